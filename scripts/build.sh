#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures and builds one tree with warnings as errors.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$1"
shift
cmake -S "$root" -B "$dir" -G Ninja -DTIDEWELL_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
