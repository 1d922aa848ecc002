#!/bin/sh
# Installs what is missing, builds both architectures and runs every test,
# each on a build this machine can run (tools/route.sh picks the route):
#   native    every test on the shipping 32-bit build, the unit tests on the
#             64-bit one;
#   emulated  the same, with the 32-bit build under qemu-i386 (about 1.5
#             times as long: every test still fits the run's budget);
#   x86_64    the 32-bit build's static checks (its size, DLLs, resources),
#             and every test on the 64-bit build under the 64-bit Wine.
# Then a short run of every fuzz target, and a list of what ran where.
set -u
cd "$(dirname "$0")/.."

tools/setup-debian.sh || exit 1
choice=$(tools/route.sh choose) || exit 1
route=$(printf '%s\n' "$choice" | sed -n 1p)
said=$(printf '%s\n' "$choice" | sed -n 2p)
echo "route: $said"

for preset in i686 x86_64; do
    cmake --preset "$preset" >/dev/null || exit 1
    cmake --build --preset "$preset" || exit 1
done

results=$PWD/build/test-results
rm -rf "$results"
mkdir -p "$results"
status=0
# run_tests PRESET ROUTE WHAT [CTEST OPTIONS...]: one ctest run of a build;
# its results go to $results/<n>-<preset>.xml with WHAT beside them.
runs=0
run_tests() {
    preset=$1
    way=$2
    what=$3
    shift 3
    runs=$((runs + 1))
    echo "=== tests: $preset, $what ==="
    printf '%s\n' "$what" >"$results/$runs-$preset.what"
    tools/route.sh exec "$way" ctest --test-dir "build/$preset" --output-on-failure -j2 --timeout 600 \
        --output-junit "$results/$runs-$preset.xml" "$@" || status=1
}

case "$route" in
    native)
        run_tests i686 native "every test, natively"
        run_tests x86_64 native "the unit tests" -L unit
        ;;
    emulated)
        run_tests i686 emulated "every test, under emulation"
        run_tests x86_64 x86_64 "the unit tests, under the 64-bit Wine" -L unit
        ;;
    x86_64)
        run_tests i686 native "the static checks (no 32-bit program runs on this route)" -L static
        run_tests x86_64 x86_64 "every test, under the 64-bit Wine"
        ;;
esac

# The pure parsers under libFuzzer, AddressSanitizer and UndefinedBehavior-
# Sanitizer, built natively with clang: 30 s per target, two at a time
# (about 2.5 minutes). A crash or a broken property fails the run.
echo "=== fuzz: parsers ==="
FUZZ_JOBS=2 tests/fuzz/run_fuzzers.sh 30 || status=1

python3 tools/test_summary.py --route "$said" "$results" build/i686 build/x86_64 || status=1
exit $status
