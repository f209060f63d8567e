#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time, several at once, each on its committed
# seed corpus (fuzz/corpus/<target>/) plus a working corpus in the build folder. Fails when any
# target reports a finding (crash, broken invariant, sanitizer report, leak, timeout, memory limit);
# the input that caused it is left in <build>/fuzz-findings/.
#   scripts/run-fuzz.sh [build folder, default build-fuzz] [seconds per target, default 25]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-fuzz}
seconds=${2:-25}
jobs=$(nproc 2>/dev/null || echo 4)
[ "$jobs" -gt 8 ] && jobs=8

# One target per fuzz/fuzz_*.cpp; each must have been built.
targets=()
for source in fuzz/fuzz_*.cpp; do
    target=$(basename "$source" .cpp)
    if [ ! -f "$build/fuzz/$target" ]; then
        echo "fuzz: $build/fuzz/$target is not built" >&2
        exit 1
    fi
    targets+=("$target")
done

logs="$build/fuzz-logs"
findings="$build/fuzz-findings"
mkdir -p "$logs" "$findings"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

run_target() {
    local target=$1 seconds=$2 build=$3 logs=$4 findings=$5
    local work="$build/fuzz-corpus/$target"
    mkdir -p "$work"
    local start=$SECONDS status=0
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -dict=fuzz/json.dict -print_final_stats=1 -artifact_prefix="$findings/$target-" \
        "$work" "fuzz/corpus/$target" >"$logs/$target.log" 2>&1 || status=$?
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$target.log" | tail -n 1)
    echo "$target $status $((SECONDS - start)) ${runs:-0}" >"$logs/$target.result"
}
export -f run_target

rm -f "$logs"/*.result
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_target "$@"' _ {} "$seconds" "$build" "$logs" "$findings"

for target in "${targets[@]}"; do
    read -r _ status _ _ <"$logs/$target.result"
    if [ "$status" -ne 0 ]; then
        echo "---- $target"
        tail -n 40 "$logs/$target.log"
    fi
done

passed=0
failed=0
printf '%-24s %8s %12s  %s\n' target seconds inputs result
for target in "${targets[@]}"; do
    read -r _ status elapsed runs <"$logs/$target.result"
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        result=ok
    else
        failed=$((failed + 1))
        result="FINDING (exit $status), see $logs/$target.log"
    fi
    printf '%-24s %8s %12s  %s\n' "$target" "$elapsed" "$runs" "$result"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
