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
# The pure parsers under libFuzzer, AddressSanitizer and UndefinedBehavior-
# Sanitizer, built natively with clang: 30 s per target, two at a time
# (about 2.5 minutes). A crash or a broken property fails the run.
echo "=== fuzz: parsers ==="
FUZZ_JOBS=2 tests/fuzz/run_fuzzers.sh 30 || status=1
exit $status
