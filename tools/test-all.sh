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
# The tests that run on every build mostly wait on timers and servers: beside
# them, at the lowest priority (nice 19), the other build is made and the
# fuzzers run, on what the tests leave of the processors.
#
# One line per stage, with its time. What a stage prints goes to a log under
# build/logs (the packages' to build/setup.log); a stage that fails names its
# log and shows its end.
#   KOVRA_FUZZ_SECONDS  seconds each fuzz target runs (default 20)
#   KOVRA_TEST_JOBS     tests ctest runs at a time (default 8)
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
# show_end LOG [LINES]: the last lines of a stage's log.
show_end() {
    echo "  the end of $1:"
    tail -n "${2:-15}" "$1" | sed 's/^/  | /'
}
# beside LOG COMMAND...: runs COMMAND in the background at the lowest
# priority, its output in LOG, its exit status and seconds in LOG.status.
beside() {
    log=$1
    shift
    (
        start=$(date +%s)
        nice -n 19 "$@" >"$log" 2>&1
        echo "$? $(($(date +%s) - start))" >"$log.status"
    ) &
}
# joined NAME LOG PID DONE: waits for a job started beside the tests and
# prints its line (DONE when it succeeded); 0 when it succeeded.
joined() {
    wait "$3"
    read -r code took <"$2.status"
    [ "$code" = 0 ] && echo "$1: $4 ($took s, beside the tests)" && return 0
    echo "$1: FAILED ($took s, beside the tests)"
    return 1
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

# The build every test runs on, and the other one.
case "$route" in
    x86_64) main=x86_64 other=i686 ;;
    *) main=i686 other=x86_64 ;;
esac

stage "build $main"
if { cmake --preset "$main" && cmake --build --preset "$main"; } >"$logs/build-$main.log" 2>&1; then
    finish done
else
    finish failed
    show_end "$logs/build-$main.log" 25
    exit 1
fi

beside "$logs/build-$other.log" sh -c 'cmake --preset "$1" && cmake --build --preset "$1"' - "$other"
other_build=$!
# The pure parsers under libFuzzer, AddressSanitizer and UndefinedBehavior-
# Sanitizer, built natively with clang, two targets at a time. A crash or a
# broken property fails the run.
seconds=${KOVRA_FUZZ_SECONDS:-20}
beside "$logs/fuzz.log" env FUZZ_JOBS=2 tests/fuzz/run_fuzzers.sh "$seconds"
fuzzers=$!

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
        # "  9 - net.download (Failed)", which CMake 3.31 follows with the
        # test's labels: the name is the word after the dash.
        failed=$(sed -n 's/^[[:space:]]*[0-9][0-9]* - \([^[:space:]]*\) (.*/\1/p' "$log" | tr '\n' ' ')
        finish "FAILED: ${failed:-ctest did not finish}"
        echo "  their output is in $log"
    fi
}

case "$route" in
    native) run_tests i686 native "every test, natively" ;;
    emulated) run_tests i686 emulated "every test, under emulation" ;;
    x86_64) run_tests x86_64 x86_64 "every test, under the 64-bit Wine" ;;
esac

if joined "build $other" "$logs/build-$other.log" $other_build done; then
    case "$route" in
        native) run_tests x86_64 native "the unit tests" -L unit ;;
        emulated) run_tests x86_64 x86_64 "the unit tests, under the 64-bit Wine" -L unit ;;
        x86_64) run_tests i686 native "the static checks (no 32-bit program runs on this route)" -L static ;;
    esac
else
    status=1
    show_end "$logs/build-$other.log" 25
fi

if ! joined "fuzzers, $seconds s a target" "$logs/fuzz.log" $fuzzers "nothing found"; then
    status=1
    show_end "$logs/fuzz.log" 25
fi

python3 tools/test_summary.py --route "$said" "$results" build/i686 build/x86_64 || status=1
elapsed=$(($(date +%s) - began))
echo "all: $((elapsed / 60)) min $((elapsed % 60)) s, $([ $status = 0 ] && echo passed || echo FAILED)"
exit $status
