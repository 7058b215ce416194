#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target of tests/fuzz for a while:
#
#   scripts/run-fuzzers.sh [SECONDS]      (default 30 seconds per target)
#
# Each target starts from its seeds (tests/fuzz/corpus/TARGET) and the inputs that
# earlier runs kept (build/fuzz/corpus/TARGET, where new ones go). A target fails
# when it crashes, breaks one of its invariants, leaks, takes longer than
# VARNEL_FUZZ_TIMEOUT seconds (default 10) on one input, or allocates more than
# 64 MiB at once or 2 GiB in all; the input that did it is kept in
# build/fuzz/crashes/TARGET/ and the log in build/fuzz/logs/TARGET.log. Replay a
# crash file with: build/fuzz/tests/fuzz/TARGET FILE
#
# VARNEL_FUZZ_SEED fixes the fuzzer's random seed (each line shows the one used).
# Prints one line per target and ends with "N passed, N failed".
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${1:-30}
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || {
    echo "usage: scripts/run-fuzzers.sh [SECONDS]" >&2
    exit 2
}
build=build/fuzz
started=$(date +%s)

scripts/install-packages.sh cmake ninja-build clang-14 libclang-rt-14-dev llvm-14 || exit 1
if ! cmake --preset fuzz >/dev/null || ! cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)"; then
    echo "run-fuzzers: the fuzz preset did not build"
    echo "0 passed, 1 failed"
    exit 1
fi

export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

passed=0
failed=0
mapfile -t targets <"$build/fuzz-targets.txt"
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    crashes=$build/crashes/$target
    log=$build/logs/$target.log
    mkdir -p "$corpus" "$crashes" "$(dirname "$log")"
    options=(-max_total_time="$seconds" -timeout="${VARNEL_FUZZ_TIMEOUT:-10}" -rss_limit_mb=2048
        -malloc_limit_mb=64 -print_final_stats=1 -artifact_prefix="$crashes/")
    [ -n "${VARNEL_FUZZ_SEED:-}" ] && options+=(-seed="$VARNEL_FUZZ_SEED")
    # The time limit stops the fuzzer between inputs; the outer one only a hang.
    timeout --kill-after=10 $((seconds + 300)) "$build/tests/fuzz/$target" "${options[@]}" \
        "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1
    status=$?
    seed=$(sed -nE 's/^INFO: Seed: ([0-9]+).*/\1/p' "$log" | head -n 1)
    runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        echo "$target: passed, ${runs:-?} inputs in ${seconds} s (seed ${seed:-?})"
    else
        failed=$((failed + 1))
        artifact=$(sed -nE 's/.*Test unit written to (.*)$/\1/p' "$log" | tail -n 1)
        reason=$(grep -m 1 -E 'ERROR: |invariant does not hold' "$log" | sed -E 's/^==[0-9]+== ?//')
        echo "$target: FAILED (exit $status: ${reason:-see the log}); input: ${artifact:-none}," \
            "log: $log (seed ${seed:-?})"
    fi
done

echo "fuzzing took $(($(date +%s) - started)) s in all"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
