#!/usr/bin/env bash
# Installs what is needed, builds the project twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole suite in
# both; the plain tree's Debian package is built, checked with lintian,
# installed and tried (scripts/check-package.sh) and counts as one test;
# builds the tests that use threads with ThreadSanitizer and runs them;
# replays the fuzz targets' regression inputs and fuzzes each for a while
# (TIDEWELL_FUZZ_SECONDS, 30 by default), each target counting as one test.
# Ends with one summary line over all of it.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh" || exit 1

out="${TIDEWELL_BUILD_ROOT:-$root/out}"
jobs="$(nproc)"
passed=0
failed=0
status=0

run_suite() {
    local name="$1"
    shift
    echo "== building $name"
    if ! "$root/scripts/build.sh" "$out/$name" -DTIDEWELL_BUILD_BENCH=OFF "$@"; then
        echo "== $name: build failed"
        status=1
        return
    fi
    echo "== testing $name"
    local log="$out/$name-ctest.log"
    (cd "$out/$name" && ctest --output-on-failure -j "$jobs" --timeout 600) 2>&1 | tee "$log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    local line total fails
    line="$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)"
    total="$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")"
    fails="$(sed -E 's/.*tests passed, ([0-9]+) tests failed.*/\1/' <<<"$line")"
    if [ -z "$line" ]; then
        status=1
        return
    fi
    passed=$((passed + total - fails))
    failed=$((failed + fails))
}

check_package() {
    echo "== package"
    if [ -f "$out/plain/build.ninja" ] && "$root/scripts/check-package.sh" "$out/plain"; then
        passed=$((passed + 1))
    else
        echo "== package: failed"
        failed=$((failed + 1))
    fi
}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp"
run_suite plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
check_package
run_suite sanitize -DCMAKE_BUILD_TYPE=Debug -DTIDEWELL_SANITIZE=ON
run_suite tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIDEWELL_TSAN=ON

fuzz_log="$out/fuzz-ci.log"
"$root/scripts/fuzz.sh" "${TIDEWELL_FUZZ_SECONDS:-30}" 2>&1 | tee "$fuzz_log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
fuzz_line="$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' "$fuzz_log" | tail -n 1)"
if [ -n "$fuzz_line" ]; then
    passed=$((passed + $(sed -E 's/^fuzz: ([0-9]+) passed.*/\1/' <<<"$fuzz_line")))
    failed=$((failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$fuzz_line")))
else
    status=1
fi

[ "$failed" -eq 0 ] || status=1
echo "tests: $passed passed, $failed failed"
exit "$status"
