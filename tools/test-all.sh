#!/bin/sh
# Installs what is missing, builds both architectures and runs every test:
# the whole suite on the shipping 32-bit build, the unit tests on the 64-bit one.
set -u
cd "$(dirname "$0")/.."

tools/setup-debian.sh || exit 1

status=0
for preset in i686 x86_64; do
    cmake --preset "$preset" >/dev/null || exit 1
    cmake --build --preset "$preset" || exit 1
done
for preset in i686 x86_64; do
    echo "=== tests: $preset ==="
    ctest --preset "$preset" || status=1
done
exit $status
