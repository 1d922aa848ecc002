#!/bin/bash
# Builds the parser fuzz targets natively (clang, libFuzzer, ASan, UBSan) and
# runs each for SECONDS (default $KOVRA_FUZZ_SECONDS, or 20), printing the
# executions and findings.
# Exit status: 0 when no target found anything, 1 when one did (its input is
# saved under <build>/findings/<target>/), 2 when the build failed.
#
#   tests/fuzz/run_fuzzers.sh [SECONDS]    (0: only run the seeds once)
#   FUZZ_BUILD_DIR  build folder (default build/fuzz)
#   FUZZ_JOBS       targets run at the same time (default 1)
#   FUZZ_TARGETS    a subset, e.g. "url redirect" (default all)
#
# Each run starts from the committed seeds (tests/fuzz/corpus/<target>) and
# from what earlier runs in the same build folder found (<build>/corpus/).
set -u
cd "$(dirname "$0")/../.."
root=$(pwd)

seconds=${1:-${KOVRA_FUZZ_SECONDS:-20}}
case "$seconds" in
    '' | *[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac
build=${FUZZ_BUILD_DIR:-build/fuzz}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
jobs=${FUZZ_JOBS:-1}
targets=${FUZZ_TARGETS:-"url redirect http_date header_lines numbers download_paths resume_plan stats_query progress"}

# Longest input per target, in bytes (two per code unit): room for texts
# beyond every capacity (a 10,240-unit header buffer, a 1,024-unit path).
max_len() {
    case "$1" in
        header_lines) echo 24576 ;;
        redirect) echo 16384 ;;
        url | download_paths) echo 8192 ;;
        *) echo 4096 ;;
    esac
}

echo "=== fuzz: building into $build ==="
mkdir -p "$build"
if ! CC=clang CXX=clang++ cmake -S tests/fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    exit 2
fi
cmake --build "$build" -j2 >"$build/build.log" 2>&1 || { cat "$build/build.log" >&2; exit 2; }
grep -E "warning:" "$build/build.log" && echo "fuzz: the build has warnings (see above)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

run_one() {
    local target=$1
    local work="$build/corpus/$target" findings="$build/findings/$target" log="$build/logs/$target.log"
    mkdir -p "$work" "$findings" "$build/logs"
    local dict=()
    [ -f "tests/fuzz/dict/$target.dict" ] && dict=(-dict="tests/fuzz/dict/$target.dict")
    local before
    before=$(ls "$findings" | wc -l)
    # -timeout: an input that takes 10 s is a hang, and a finding.
    local length=(-max_total_time="$seconds")
    [ "$seconds" -eq 0 ] && length=(-runs=0)
    timeout $((seconds + 300)) "$build/fuzz_$target" "${length[@]}" -max_len="$(max_len "$target")" \
        -timeout=10 -rss_limit_mb=2048 -use_value_profile=1 -print_final_stats=1 "${dict[@]}" \
        -artifact_prefix="$findings/" "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1
    local status=$?
    local after
    after=$(ls "$findings" | wc -l)
    if [ "$status" -ne 0 ] || [ "$after" -ne "$before" ]; then
        echo "$status" >"$log.failed"
    else
        rm -f "$log.failed"
    fi
}

running=0
for target in $targets; do
    [ -x "$build/fuzz_$target" ] || { echo "fuzz: no target fuzz_$target" >&2; exit 2; }
    echo "fuzz_$target: ${seconds} s"
    run_one "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

status=0
printf '\n%-20s %12s %8s %8s  %s\n' target executions "exec/s" corpus result
for target in $targets; do
    log="$build/logs/$target.log"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    corpus=$(ls "$build/corpus/$target" | wc -l)
    if [ -f "$log.failed" ]; then
        result="FOUND (exit $(cat "$log.failed"), see $log)"
        status=1
    else
        result=ok
    fi
    printf '%-20s %12s %8s %8s  %s\n' "fuzz_$target" "${runs:-?}" "${rate:-?}" "$corpus" "$result"
done

for target in $targets; do
    log="$build/logs/$target.log"
    [ -f "$log.failed" ] || continue
    echo
    echo "=== fuzz_$target found: ==="
    grep -m1 -E "property broken|runtime error|ERROR: (AddressSanitizer|libFuzzer|LeakSanitizer)" "$log"
    grep -A8 "property broken" "$log" | grep -E '^  [^ ]+ = '
    grep -m1 -E "Test unit written to|artifact_prefix" "$log"
done
exit $status
