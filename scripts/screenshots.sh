#!/usr/bin/env bash
# screenshots.sh [BUILD_DIR]: renders the main window (idle and during an
# update), the update prompt and the settings dialog offscreen into
# docs/screenshots/*.png. Builds the renderer in BUILD_DIR (default: build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build}"
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DTIDEWELL_WERROR=ON >/dev/null
fi
cmake --build "$dir" --target tidewell_screenshots
QT_QPA_PLATFORM=offscreen "$dir/dialogs/tidewell_screenshots" "$root/docs/screenshots"
