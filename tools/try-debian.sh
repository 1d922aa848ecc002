#!/bin/sh
# Tries the README's two commands on a fresh minimal root of another Debian
# release, as a new user would: the current commit cloned under /root, then
# tools/demo.sh and tools/test-all.sh, each with its stage lines and its exit
# code.
#
#   tools/try-debian.sh RELEASE [COMMAND...]
#       RELEASE: a Debian code name (trixie, bookworm). COMMAND, when given,
#       runs in place of the two commands, in the clone (for a probe).
#
# The root is made once with debootstrap, from the mirror this machine's apt
# uses, and kept as a tarball (KOVRA_ROOTS, by default ~/.cache/kovra-roots);
# every try unpacks a fresh copy of it. The try runs in mount and PID
# namespaces of its own, with the root pivoted to (not chrooted into: the
# emulated route makes user namespaces, which a chrooted process may not),
# so nothing of the host but the network and the devices is seen. Needs
# root; installs debootstrap when it lacks it.
#
# Only the commit is cloned: changes not committed are not tried. When a
# command fails, its build/logs are copied out of the root before it goes.
set -eu

[ $# -ge 1 ] || { echo "usage: $0 RELEASE [COMMAND...]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "try-debian: needs root (debootstrap, namespaces)" >&2; exit 2; }

if [ "${1:-}" = --inside ]; then
    # In the new namespaces: the fresh root becomes /, the host goes.
    shift
    tree=$1
    shift
    mount --make-rprivate /
    mount --rbind "$tree" "$tree"
    mount -t proc proc "$tree/proc"
    mount --rbind /sys "$tree/sys"
    mount --rbind /dev "$tree/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$tree/tmp"
    mount -t tmpfs -o mode=1777 tmpfs "$tree/dev/shm"
    cp /etc/resolv.conf "$tree/etc/resolv.conf"
    mkdir -p "$tree/.host"
    cd "$tree"
    pivot_root . .host
    umount -l /.host
    rmdir /.host
    cd /
    exec env -i HOME=/root USER=root LOGNAME=root LANG=C.UTF-8 TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
fi

release=$1
shift
here=$(cd "$(dirname "$0")/.." && pwd)
roots=${KOVRA_ROOTS:-$HOME/.cache/kovra-roots}
tarball=$roots/$release.tar
mkdir -p "$roots"

# The mirrors apt uses here, for debootstrap and for the root's own sources.
mirror=$(sed -n 's/^URIs: *\(http[^ ]*\/debian\)\/*$/\1/p; s/^deb \(http[^ ]*\/debian\)\/* .*/\1/p' \
    /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -n 1)
security=$(sed -n 's/^URIs: *\(http[^ ]*\/debian-security\)\/*$/\1/p; s/^deb \(http[^ ]*\/debian-security\)\/* .*/\1/p' \
    /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}
security=${security:-http://deb.debian.org/debian-security}

began=$(date +%s)
say() {
    echo "try-debian: $* ($(($(date +%s) - began)) s)"
}

if [ ! -f "$tarball" ]; then
    command -v debootstrap >/dev/null || apt-get install -y --no-install-recommends debootstrap >/dev/null
    build=$(mktemp -d "$roots/.$release.XXXXXX")
    # git and the certificates: what a user who cloned the project has.
    if ! debootstrap --variant=minbase --include=git,ca-certificates "$release" "$build/root" "$mirror" \
        >"$roots/$release.debootstrap.log" 2>&1; then
        tail -n 5 "$roots/$release.debootstrap.log" >&2
        rm -rf "$build"
        echo "try-debian: debootstrap of $release failed (see $roots/$release.debootstrap.log)" >&2
        exit 1
    fi
    # The sources a fresh installation of the release has.
    rm -f "$build/root/etc/apt/sources.list"
    printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\nTypes: deb\nURIs: %s\nSuites: %s-security\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$mirror" "$release" "$release" "$security" "$release" >"$build/root/etc/apt/sources.list.d/debian.sources"
    tar -C "$build/root" -cf "$tarball.new" .
    mv "$tarball.new" "$tarball"
    rm -rf "$build"
    say "made a minimal $release root: $tarball"
fi

tree=$(mktemp -d "${TMPDIR:-/var/tmp}/kovra-$release.XXXXXX")
trap 'rm -rf "$tree"' EXIT
tar -C "$tree" -xf "$tarball"
git -C "$here" bundle create "$tree/root/kovra.bundle" HEAD >/dev/null 2>&1
commit=$(git -C "$here" rev-parse --short HEAD)
say "a fresh $release root in $tree, commit $commit cloned under /root"

# The root goes at the end; a failure's logs stay where they can be read.
keep_logs() {
    [ -d "$tree/root/kovra/build/logs" ] || return 0
    kept=$(mktemp -d "${TMPDIR:-/var/tmp}/kovra-$release-logs.XXXXXX")
    cp -r "$tree/root/kovra/build/logs/." "$kept/"
    say "the failed command's logs are kept in $kept"
}

if [ $# -gt 0 ]; then
    set +e
    unshare --mount --pid --fork -- "$0" --inside "$tree" \
        sh -c 'git -c init.defaultBranch=main -c advice.detachedHead=false clone -q /root/kovra.bundle /root/kovra && cd /root/kovra && exec "$@"' - "$@"
    code=$?
    [ $code = 0 ] || keep_logs
    exit $code
fi

# The two commands, one after the other, as the README gives them.
status=0
for command in tools/demo.sh tools/test-all.sh; do
    echo "=== $command on $release ==="
    set +e
    unshare --mount --pid --fork -- "$0" --inside "$tree" \
        sh -c '[ -d /root/kovra ] || git -c init.defaultBranch=main -c advice.detachedHead=false clone -q /root/kovra.bundle /root/kovra; cd /root/kovra && exec "$1"' - \
        "$command"
    code=$?
    set -e
    say "$command exited with $code"
    [ $code = 0 ] || { status=1; keep_logs; }
done
exit $status
