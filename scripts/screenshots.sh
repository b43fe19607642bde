#!/usr/bin/env bash
# screenshots.sh [BUILD_DIR]: captures the main window (idle and during an
# update), the update prompt and the settings dialog from the screen of a
# private X server (Xvfb with openbox) while the window tests drive the built
# updater against nginx, and the main window during a run at a device-pixel
# ratio of 2 (offscreen, QT_SCALE_FACTOR=2), into docs/screenshots/*.png.
# Builds in BUILD_DIR (default: build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build}"
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DTIDEWELL_WERROR=ON >/dev/null
fi
cmake --build "$dir" --target e2e_window_run_test TidewellKiro TidewellMakeList \
    dialogs_tests
# A plain scratch folder: the settings dialog shows the installation's path.
TMPDIR=/tmp TIDEWELL_SCREENSHOT_DIR="$root/docs/screenshots" \
    "$dir/tests/e2e/e2e_window_run_test" \
    --gtest_filter='*FirstUseSettings*:*PromptCancelled*'
QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 TIDEWELL_SCREENSHOT_DIR="$root/docs/screenshots" \
    "$dir/tests/dialogs/dialogs_tests" TideDlgTest screenShowsTheRenderedFace
