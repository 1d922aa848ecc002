#!/bin/sh
# Installs what building and testing need on Debian 12 or 13 (or later),
# and only what is missing. Needs root (or sudo) when something has to be
# installed. Package names follow the release: none is pinned to a version
# one release has.
#
#   setup-debian.sh             the build and test tools
#   setup-debian.sh emulation   qemu-i386, for machines that cannot run
#                               32-bit programs (tools/route.sh asks for it)
#
# Prints one line: what it installed, or that nothing was missing. What apt
# and dpkg say goes to build/setup.log (KOVRA_SETUP_LOG names another file);
# on a failure that file is named with its last lines.
set -eu

export DEBIAN_FRONTEND=noninteractive
root=$(cd "$(dirname "$0")/.." && pwd)
log=${KOVRA_SETUP_LOG:-$root/build/setup.log}
mkdir -p "$(dirname "$log")"

# quietly COMMAND...: runs it with its output appended to the log; a failure
# names the log and shows its end.
quietly() {
    echo "+ $*" >>"$log"
    "$@" >>"$log" 2>&1 && return 0
    status=$?
    echo "setup: $* failed (exit $status); the end of $log:" >&2
    tail -n 15 "$log" >&2
    return $status
}

if [ "$(id -u)" -eq 0 ]; then
    as_root=""
else
    as_root="sudo"
fi

# A mirror caught syncing fails an index now and then: try again a little
# later, and go on with what was read (the install then says what it lacks).
# The suites whose index stayed unreadable are written to $unread_suites.
unread_suites=""
update_lists() {
    errors=$(mktemp)
    for attempt in 1 2 3; do
        if $as_root apt-get update "$@" >>"$log" 2>"$errors"; then
            rm -f "$errors"
            unread_suites=""
            return 0
        fi
        cat "$errors" >>"$log"
        [ $attempt = 3 ] || sleep 10
    done
    unread_suites=$(sed -n 's|^E: Failed to fetch .*/dists/\([^/]*\)/.*|\1|p' "$errors" | sort -u)
    rm -f "$errors"
    echo "setup: some package lists could not be read (see $log); going on with what there is" >&2
}

# One architecture's index of a suite missing (say bookworm-security's i386
# list) leaves its amd64 packages newer than the i386 ones, and Multi-Arch
# pairs such as wine's libraries must match: prefer the other suites then.
install_packages() {
    preferences=""
    if [ -n "$unread_suites" ]; then
        preferences=$(mktemp)
        for suite in $unread_suites; do
            echo "setup: $suite could not be read whole; installing from the other suites" >>"$log"
            printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$suite" >>"$preferences"
        done
        set -- -o Dir::Etc::Preferences="$preferences" "$@"
    fi
    status=0
    quietly $as_root apt-get install -y --no-install-recommends "$@" || status=$?
    [ -z "$preferences" ] || rm -f "$preferences"
    return $status
}

# The release's code name (bookworm, trixie, ...).
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

# The major version of a package's candidate ("1:10.0.2+ds-1" gives 10).
candidate_major() {
    apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: \([0-9]*:\)\{0,1\}\([0-9]*\).*/\2/p' | head -n 1
}

if [ "${1:-}" = emulation ]; then
    # qemu-user 10 or later: older ones take about a minute to start each
    # 32-bit program (bookworm's 7.2). The release's own where it has one
    # (trixie), otherwise its backports. Without its recommends, since
    # qemu-user-binfmt would register the emulator for the whole machine.
    update_lists
    release_args=""
    major=$(candidate_major qemu-user)
    if [ "${major:-0}" -lt 10 ]; then
        suite=$codename-backports
        sources=$(grep -rls "$suite" /etc/apt/sources.list /etc/apt/sources.list.d 2>/dev/null | head -n 1)
        if [ -z "$sources" ]; then
            sources=/etc/apt/sources.list.d/kovra-$suite.sources
            echo "setup: adding $suite to the package sources" >>"$log"
            printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$suite" |
                $as_root tee "$sources" >/dev/null
        fi
        # Only the backports' index: the others were just read.
        update_lists -o Dir::Etc::sourcelist="$sources" -o Dir::Etc::sourceparts=- -o APT::Get::List-Cleanup=0
        release_args="-t $suite"
    fi
    # No suite preference here: qemu-user has no 32-bit half to match, and
    # preferring others over an unread backports list would pick an old one.
    quietly $as_root apt-get install -y --no-install-recommends $release_args qemu-user
    echo "installed qemu-user $(candidate_major qemu-user)${release_args:+ from ${release_args#-t }}"
    exit 0
fi

# clang's sanitizer and fuzzer runtimes come in a package named after
# clang's major version (libclang-rt-14-dev on bookworm, -19- on trixie):
# the version the release's clang depends on. Empty before the package
# lists have been read.
clang_runtime() {
    major=$(dpkg-query -W -f='${Depends}' clang 2>/dev/null | sed -n 's/^clang-\([0-9]*\).*/\1/p')
    [ -n "$major" ] || major=$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9]*\)$/\1/p' | head -n 1)
    [ -z "$major" ] || echo "libclang-rt-$major-dev"
}

PACKAGES="cmake make python3 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
wine wine32:i386 wine64 xvfb xauth x11-utils xdotool imagemagick
fonts-liberation fonts-dejavu-core nginx-light squid doctest-dev curl
clang osslsigncode openssl"

missing=""
for package in $PACKAGES $(clang_runtime); do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $package" ;;
    esac
done
# Until the lists are read, clang's runtime cannot be named: it goes with clang.
case " $missing " in *" clang "*) [ -n "$(clang_runtime)" ] || missing="$missing clang-runtime" ;; esac

if [ -z "$missing" ]; then
    echo "nothing missing"
    exit 0
fi

# The 32-bit Wine (wine32:i386) is what runs the 32-bit build.
quietly $as_root dpkg --add-architecture i386
update_lists
case " $missing " in *" clang-runtime "*) missing=$(echo "$missing" | sed "s/ clang-runtime/ $(clang_runtime)/") ;; esac
install_packages $missing
case " $missing " in
    *" squid "*)
        # The package starts a proxy of its own on port 3128 where services
        # run; the tests start theirs, so the machine's is stopped again.
        quietly $as_root sh -c 'invoke-rc.d squid stop; update-rc.d squid disable; true' ;;
esac
echo "installed$missing"
