#!/bin/sh
# The loader end to end against local servers: installs what is missing,
# builds the loader this machine can run and runs it under Wine (see
# tools/demo/demo.py for what it shows and prints). The shipping 32-bit
# loader where 32-bit programs run, natively or under emulation
# (tools/route.sh), otherwise the 64-bit one.
#
# One line per stage before the demo's own, with its time; what a stage
# prints goes to a log under build/logs, named with its end when it fails.
set -u
cd "$(dirname "$0")/.."

logs=$PWD/build/logs
mkdir -p "$logs"
stage() {
    stage_began=$(date +%s)
    printf '%s: ' "$1"
}
finish() {
    echo "$1 ($(($(date +%s) - stage_began)) s)"
}
fail() {
    echo failed
    echo "  the end of $1:"
    tail -n 20 "$1" | sed 's/^/  | /'
    exit 1
}

stage packages
said=$(tools/setup-debian.sh 2>"$logs/setup.err") || { echo failed; sed 's/^/  /' "$logs/setup.err"; exit 1; }
finish "$said"
stage route
choice=$(tools/route.sh choose 2>"$logs/route.log") || fail "$logs/route.log"
route=$(printf '%s\n' "$choice" | sed -n 1p)
finish "$(printf '%s\n' "$choice" | sed -n 2p)"
case "$route" in
    x86_64) preset=x86_64 ;;
    *) preset=i686 ;;
esac
stage "build $preset"
log=$logs/build-$preset.log
# Only what the demo runs: the loader, the stand-in installer, and the
# harness's keeper of Wine's desktop (which also finds the window); on
# every core.
{ cmake --preset "$preset" &&
    cmake --build --preset "$preset" --parallel "$(nproc)" \
        --target KovraLoader kovra-standin-installer window_probe; } >"$log" 2>&1 || fail "$log"
finish done
exec tools/route.sh exec "$route" python3 tools/demo/demo.py --build "build/$preset" "$@"
