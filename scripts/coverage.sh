#!/usr/bin/env bash
# coverage.sh BUILD_DIR: builds the project with TIDEWELL_COVERAGE, runs the
# whole suite and prints the line and function coverage of the product's own
# code (tests, benchmarks, fuzz targets and generated files left out).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:?usage: coverage.sh BUILD_DIR}"
# Coverage notes name the folder they were compiled in; a cached object from
# another checkout would point gcov at that checkout's sources.
export CCACHE_DISABLE=1
"$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Debug -DTIDEWELL_COVERAGE=ON \
    -DTIDEWELL_BUILD_BENCH=OFF || exit 1
dir="$(cd "$dir" && pwd)"
# Counts from an earlier run would add up with this one's.
find "$dir" -name '*.gcda' -delete
(cd "$dir" && ctest -j2 --timeout 600 >"$dir/coverage-ctest.log" 2>&1)
sed -n '/tests passed/,$p' "$dir/coverage-ctest.log"
product='(app|log|util|engine|zip|platform|console|dialogs|controls)/'
# The tests' Wine prefixes map z: to /, which would lead the search into
# every other tree on the machine.
gcovr --root "$root" --object-directory "$dir" --filter "$root/$product" \
    --exclude-directories '.*/dosdevices' \
    --exclude-unreachable-branches --print-summary --output "$dir/coverage.txt" -j "$(nproc)"
