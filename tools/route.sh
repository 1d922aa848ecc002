#!/bin/sh
# How this machine runs the Windows builds under Wine: the route.
#
#   tools/route.sh choose
#       Prints two lines: the route (native, emulated or x86_64) and why.
#       KOVRA_ROUTE=native|emulated|x86_64 forces one; a forced route that
#       cannot work here is refused (exit 1, with the cause).
#   tools/route.sh exec ROUTE COMMAND [ARGS...]
#       Runs COMMAND in the environment of ROUTE, with KOVRA_ROUTE set.
#   tools/route.sh exec without-i386 COMMAND [ARGS...]
#       Runs COMMAND as on a machine that cannot run 32-bit programs: every
#       32-bit Linux program fails with "Exec format error". For trying the
#       x86_64 route on a machine that does run them.
#
# The routes:
#   native    32-bit programs run here: the 32-bit Wine runs the i686 build.
#   emulated  They do not, but qemu-i386 can run them: registered for
#             i386 ELF in a binfmt_misc of this run's own user and mount
#             namespace (Linux 6.7 or later). Nothing changes on the host,
#             and 64-bit programs (the wineserver among them) stay native.
#   x86_64    Neither: the 64-bit Wine, in a 64-bit prefix, runs the
#             x86_64 build; "wine" means /usr/lib/wine/wine64.
#
# Emulation is taken only where native execution fails (or when forced):
# registered for the whole machine it would send every 32-bit program
# through the emulator.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
wine64=/usr/lib/wine/wine64
# Comes with libc6:i386, which wine32:i386 pulls in.
ld32=/lib/ld-linux.so.2

# i386 ELF executables and shared objects (ET_EXEC, ET_DYN).
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

die() {
    echo "route: $*" >&2
    exit 1
}

# Empty when 32-bit programs run here; otherwise what running one gave.
native_problem() {
    if [ ! -e "$ld32" ]; then
        echo "$ld32 is missing (libc6:i386 not installed)"
        return
    fi
    out=$("$ld32" --version 2>&1 >/dev/null) && return
    case "$out" in
        *"format error"*) echo "$ld32: Exec format error" ;;
        *) echo "$ld32 failed: $(printf '%s' "$out" | head -n 1)" ;;
    esac
}

qemu_path() {
    command -v qemu-i386 || command -v qemu-i386-static || true
}

# Empty when the emulated route works; otherwise why it cannot be set up.
emulation_problem() {
    release=$(uname -r)
    major=${release%%.*}
    rest=${release#*.}
    minor=${rest%%[!0-9]*}
    if [ "$major" -lt 6 ] || { [ "$major" -eq 6 ] && [ "${minor:-0}" -lt 7 ]; }; then
        echo "Linux $release is older than 6.7, whose user namespaces cannot mount their own binfmt_misc"
        return
    fi
    command -v unshare >/dev/null || { echo "unshare (util-linux) is missing"; return; }
    [ -n "$(qemu_path)" ] || { echo "qemu-i386 could not be installed"; return; }
    qemu_recent || { echo "qemu-i386 $(qemu_version) is older than 10, which starts 32-bit programs in seconds"; return; }
    out=$("$0" exec emulated "$ld32" --version 2>&1 >/dev/null) && return
    echo "the emulated 32-bit loader did not start: $(printf '%s' "$out" | tail -n 1)"
}

qemu_version() {
    "$(qemu_path)" --version 2>/dev/null | head -n 1 | sed 's/.*version \([^ ]*\).*/\1/'
}

# Bookworm's own qemu 7.2 takes about a minute to start each 32-bit program.
qemu_recent() {
    [ -n "$(qemu_path)" ] || return 1
    major=$(qemu_version)
    major=${major%%.*}
    [ "${major:-0}" -ge 10 ] 2>/dev/null
}

choose() {
    forced=${KOVRA_ROUTE:-}
    case "$forced" in
        "" | native | emulated | x86_64) ;;
        *) die "KOVRA_ROUTE=$forced is none of native, emulated, x86_64" ;;
    esac
    native=$(native_problem)
    case "$forced" in
        native)
            [ -z "$native" ] || die "KOVRA_ROUTE=native, but 32-bit programs do not run here ($native)"
            echo native
            echo "native i686, forced by KOVRA_ROUTE"
            return ;;
        x86_64)
            [ -x "$wine64" ] || die "the 64-bit Wine ($wine64) is missing"
            echo x86_64
            echo "x86_64 only, forced by KOVRA_ROUTE"
            return ;;
    esac
    if [ -z "$forced" ] && [ -z "$native" ]; then
        echo native
        echo "native i686: this machine runs 32-bit programs ($ld32 ran)"
        return
    fi
    # The emulator is installed only where it is going to be used.
    qemu_recent || "$root/tools/setup-debian.sh" emulation >&2 || true
    emulation=$(emulation_problem)
    if [ -z "$emulation" ]; then
        echo emulated
        if [ -n "$forced" ]; then
            echo "i686 under emulation (qemu-i386 $(qemu_version)), forced by KOVRA_ROUTE"
        else
            echo "i686 under emulation: 32-bit programs do not run natively here ($native); qemu-i386 $(qemu_version) runs them in this run's own namespace"
        fi
        return
    fi
    [ -z "$forced" ] || die "KOVRA_ROUTE=emulated, but emulation cannot be set up: $emulation"
    [ -x "$wine64" ] || die "32-bit programs do not run here ($native), emulation cannot be set up ($emulation), and the 64-bit Wine is missing"
    echo x86_64
    echo "x86_64 only: 32-bit programs do not run here ($native) and emulation cannot be set up ($emulation)"
}

# Enters a new user and mount namespace in which this process is root with
# every id mapped to itself (so nginx's "user root;" and setgroups work),
# then runs "$0 $stage ARGS...". Only real root may write such maps (util-linux
# cannot without newuidmap), so a helper outside writes them once the
# namespace exists; others map just themselves to root.
enter_namespace() {
    stage=$1
    shift
    if [ "$(id -u)" != 0 ]; then
        exec unshare --user --map-root-user --mount -- "$0" "$stage" "$@"
    fi
    me=$$
    (
        n=0
        while [ "$(readlink /proc/$me/ns/user)" = "$(readlink /proc/self/ns/user)" ]; do
            n=$((n + 1))
            [ $n -lt 1000 ] || exit 1
            sleep 0.01
        done
        echo "0 0 4294967295" >/proc/$me/uid_map
        echo "0 0 4294967295" >/proc/$me/gid_map
    ) &
    KOVRA_ROUTE_STAGE=$stage exec unshare --user --mount -- "$0" wait-for-maps "$@"
}

# Inside the new namespace: waits for the helper's maps, then execs again,
# which gives this process full capabilities in the namespace.
wait_for_maps() {
    n=0
    until [ -n "$(cat /proc/self/uid_map)" ]; do
        n=$((n + 1))
        [ $n -lt 1000 ] || die "the namespace got no id maps"
        sleep 0.01
    done
    stage=$KOVRA_ROUTE_STAGE
    unset KOVRA_ROUTE_STAGE
    exec "$0" "$stage" "$@"
}

# Inside the namespace: registers INTERPRETER for i386 ELF in a binfmt_misc
# of its own, then runs the command. F opens the interpreter now; P keeps
# argv[0] (qemu 6 and later understand it).
register_i386() {
    interpreter=$1
    shift
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
        die "cannot mount a binfmt_misc of this namespace"
    printf '%s' ":kovra-i386:M::$i386_magic:$i386_mask:$interpreter:FP" >/proc/sys/fs/binfmt_misc/register ||
        die "cannot register $interpreter for i386 programs"
    exec "$@"
}

run_in_route() {
    route=$1
    shift
    [ $# -gt 0 ] || die "usage: $0 exec ROUTE COMMAND [ARGS...]"
    case "$route" in
        native)
            export KOVRA_ROUTE=native
            exec "$@" ;;
        emulated)
            qemu=$(qemu_path)
            [ -n "$qemu" ] || die "qemu-i386 is missing (tools/setup-debian.sh emulation installs it)"
            export KOVRA_ROUTE=emulated KOVRA_ROUTE_INTERPRETER="$qemu"
            enter_namespace in-namespace "$@" ;;
        x86_64)
            # "wine" (and wineboot's "wine-stable") would pick the 32-bit
            # loader whenever wine32 is installed.
            shims=${KOVRA_ROUTE_DIR:-$root/build/route}/wine64-bin
            mkdir -p "$shims"
            for name in wine wine-stable; do
                printf '#!/bin/sh\nexport WINELOADER=%s\nexec %s "$@"\n' "$wine64" "$wine64" >"$shims/$name"
                chmod 755 "$shims/$name"
            done
            export PATH="$shims:$PATH" WINEARCH=win64 KOVRA_ROUTE=x86_64
            exec "$@" ;;
        without-i386)
            # A file of no known format: execve of any 32-bit program then
            # fails with ENOEXEC, as on a machine without 32-bit support.
            refuse=${KOVRA_ROUTE_DIR:-$root/build/route}/not-an-executable
            if [ ! -x "$refuse" ]; then
                mkdir -p "$(dirname "$refuse")"
                echo "not an executable" >"$refuse"
                chmod 755 "$refuse"
            fi
            export KOVRA_ROUTE_INTERPRETER="$refuse"
            enter_namespace in-namespace "$@" ;;
        *) die "no route $route (native, emulated, x86_64, without-i386)" ;;
    esac
}

command=${1:-}
[ $# -gt 0 ] && shift
case "$command" in
    choose) choose ;;
    exec) run_in_route "$@" ;;
    wait-for-maps) wait_for_maps "$@" ;;
    in-namespace)
        interpreter=$KOVRA_ROUTE_INTERPRETER
        unset KOVRA_ROUTE_INTERPRETER
        register_i386 "$interpreter" "$@" ;;
    *) die "usage: $0 choose | exec ROUTE COMMAND [ARGS...]" ;;
esac
