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
#
# One line per stage, with its time. What a stage prints goes to a log under
# build/logs (the packages' to build/setup.log); a stage that fails names its
# log and shows its end.
#   KOVRA_FUZZ_SECONDS  seconds each fuzz target runs (default 20)
#   KOVRA_TEST_JOBS     tests ctest runs at a time (default 8: most of them
#                       wait on timers and servers, not on the processors)
set -u
cd "$(dirname "$0")/.."

began=$(date +%s)
logs=$PWD/build/logs
results=$PWD/build/test-results
rm -rf "$logs" "$results"
mkdir -p "$logs" "$results"
status=0

# stage NAME starts a stage's line; finish TEXT ends it with the stage's time.
stage() {
    stage_began=$(date +%s)
    printf '%s: ' "$1"
}
finish() {
    echo "$1 ($(($(date +%s) - stage_began)) s)"
}
# show_end LOG: where the stage's output is, and its last lines.
show_end() {
    echo "  the end of $1:"
    tail -n "${2:-15}" "$1" | sed 's/^/  | /'
}

stage packages
if said=$(tools/setup-debian.sh 2>"$logs/setup.err"); then
    finish "$said"
else
    finish failed
    sed 's/^/  /' "$logs/setup.err"
    exit 1
fi

stage route
choice=$(tools/route.sh choose 2>"$logs/route.log") || { finish failed; show_end "$logs/route.log"; exit 1; }
route=$(printf '%s\n' "$choice" | sed -n 1p)
said=$(printf '%s\n' "$choice" | sed -n 2p)
finish "$said"

for preset in i686 x86_64; do
    stage "build $preset"
    log=$logs/build-$preset.log
    if cmake --preset "$preset" >"$log" 2>&1 && cmake --build --preset "$preset" >>"$log" 2>&1; then
        finish done
    else
        finish failed
        show_end "$log" 25
        exit 1
    fi
done

# run_tests PRESET ROUTE WHAT [CTEST OPTIONS...]: one ctest run of a build;
# its results go to $results/<n>-<preset>.xml with WHAT beside them.
runs=0
run_tests() {
    preset=$1
    way=$2
    what=$3
    shift 3
    runs=$((runs + 1))
    stage "tests $preset, $what"
    printf '%s\n' "$what" >"$results/$runs-$preset.what"
    log=$logs/tests-$runs-$preset.log
    if tools/route.sh exec "$way" ctest --test-dir "build/$preset" --output-on-failure -j "${KOVRA_TEST_JOBS:-8}" \
        --timeout 600 --output-junit "$results/$runs-$preset.xml" "$@" >"$log" 2>&1; then
        finish "$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\)/\1 passed/p' "$log")"
    else
        status=1
        failed=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p' "$log" | tr '\n' ' ')
        finish "FAILED: ${failed:-ctest did not finish}"
        echo "  their output is in $log"
    fi
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
# Sanitizer, built natively with clang, two targets at a time. A crash or a
# broken property fails the run.
seconds=${KOVRA_FUZZ_SECONDS:-20}
stage "fuzzers, $seconds s a target"
if FUZZ_JOBS=2 tests/fuzz/run_fuzzers.sh "$seconds" >"$logs/fuzz.log" 2>&1; then
    finish "nothing found"
else
    status=1
    finish FAILED
    show_end "$logs/fuzz.log" 25
fi

python3 tools/test_summary.py --route "$said" "$results" build/i686 build/x86_64 || status=1
elapsed=$(($(date +%s) - began))
echo "all: $((elapsed / 60)) min $((elapsed % 60)) s, $([ $status = 0 ] && echo passed || echo FAILED)"
exit $status
