#!/usr/bin/env bash
# fuzz.sh SECONDS [TARGET...]: builds the fuzz targets with clang (the tree
# out/fuzz), replays every input that once crashed a target
# (fuzz/regressions/<target>/), then fuzzes each target for SECONDS over its
# corpus, two at a time at the lowest priority. New inputs go to
# out/fuzz-corpus/<target>/, crashes to out/fuzz-artifacts/<target>/, and
# each run's executions are appended to out/fuzz-stats.txt.
# Ends with "fuzz: N passed, M failed"; the status is non-zero on a failure.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:?usage: fuzz.sh SECONDS [TARGET...]}"
shift
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(list_file gzip zip profile last_modified url split_string)
out="${TIDEWELL_BUILD_ROOT:-$root/out}"
jobs="${TIDEWELL_FUZZ_JOBS:-2}"

echo "== building fuzz"
if ! CC=clang CXX=clang++ "$root/scripts/build.sh" "$out/fuzz" -DTIDEWELL_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo; then
    echo "fuzz: 0 passed, ${#targets[@]} failed"
    exit 1
fi

# Short allocation stacks and no fill of fresh blocks keep the targets fast;
# replay a crash with the target and its file to get the full report.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:malloc_context_size=5:max_malloc_fill_size=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The targets that work on files do so in a scratch folder: in memory when we can.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi

# Runs one target; its log is out/fuzz-logs/<target>.log, status 0 when clean.
fuzz_one() {
    local name="$1"
    local bin="$out/fuzz/fuzz/fuzz_$name"
    local log="$out/fuzz-logs/$name.log"
    local work="$out/fuzz-corpus/$name"
    local artifacts="$out/fuzz-artifacts/$name/"
    mkdir -p "$work" "$artifacts" "$out/fuzz-logs"
    : >"$log"
    local regressions=("$root/fuzz/regressions/$name"/*)
    if [ -e "${regressions[0]}" ] && ! "$bin" "${regressions[@]}" >>"$log" 2>&1; then
        echo "regression input crashed the target" >>"$log"
        return 1
    fi
    local options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048
        -print_final_stats=1 -artifact_prefix="$artifacts")
    [ -f "$root/fuzz/$name.dict" ] && options+=(-dict="$root/fuzz/$name.dict")
    # New inputs go to the first folder; the repository's corpus is only read.
    nice -n 19 "$bin" "${options[@]}" "$work" "$root/fuzz/corpus/$name" \
        >>"$log" 2>&1
    local status=$?
    local execs
    execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    echo "$(date -u +%FT%TZ) $name ${execs:-0} $([ "$status" -eq 0 ] && echo ok || echo crash)" \
        >>"$out/fuzz-stats.txt"
    return "$status"
}

passed=0
failed=0
running=()
names=()
report() {
    local name="$1" status="$2"
    local execs
    execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/fuzz-logs/$name.log" | tail -n 1)"
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        echo "fuzz_$name: ${execs:-0} executions, clean"
    else
        failed=$((failed + 1))
        echo "fuzz_$name: FAILED after ${execs:-0} executions; see $out/fuzz-logs/$name.log"
        grep -E "ERROR: |fuzz check failed|SUMMARY|Test unit written" "$out/fuzz-logs/$name.log" |
            head -n 5
    fi
}
for name in "${targets[@]}"; do
    fuzz_one "$name" &
    running+=("$!")
    names+=("$name")
    if [ "${#running[@]}" -ge "$jobs" ]; then
        wait "${running[0]}"
        report "${names[0]}" $?
        running=("${running[@]:1}")
        names=("${names[@]:1}")
    fi
done
for i in "${!running[@]}"; do
    wait "${running[$i]}"
    report "${names[$i]}" $?
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
