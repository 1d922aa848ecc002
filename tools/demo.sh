#!/bin/sh
# The loader end to end against local servers: installs what is missing,
# builds the loader this machine can run and runs it under Wine (see
# tools/demo/demo.py for what it shows and prints). The shipping 32-bit
# loader where 32-bit programs run, natively or under emulation
# (tools/route.sh), otherwise the 64-bit one.
set -eu
cd "$(dirname "$0")/.."

tools/setup-debian.sh
choice=$(tools/route.sh choose)
route=$(printf '%s\n' "$choice" | sed -n 1p)
echo "route: $(printf '%s\n' "$choice" | sed -n 2p)"
case "$route" in
    x86_64) preset=x86_64 ;;
    *) preset=i686 ;;
esac
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
exec tools/route.sh exec "$route" python3 tools/demo/demo.py --build "build/$preset" "$@"
