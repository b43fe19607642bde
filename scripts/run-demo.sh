#!/usr/bin/env bash
# Installs what is needed, builds the updater and runs it in a scratch
# installation folder, then shows what it made there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
out="${TIDEWELL_BUILD_ROOT:-$root/out}"
"$root/scripts/build.sh" "$out/plain" -DTIDEWELL_BUILD_TESTS=OFF -DTIDEWELL_BUILD_BENCH=OFF

demo="$out/demo"
rm -rf "$demo"
mkdir -p "$demo/install" "$demo/desktop"
cp "$out/plain/console/TidewellKiro" "$demo/install/"
export XDG_DESKTOP_DIR="$demo/desktop" XDG_DATA_HOME="$demo/data" XDG_CONFIG_HOME="$demo/xdgconfig"

echo "== running the updater as the run-copy in $demo/install"
"$demo/install/TidewellKiro" --headless 1
echo "== installation folder"
find "$demo/install" "$demo/desktop" "$demo/data" | sed "s#^$demo/##" | sort
echo "== log"
cat "$demo"/install/log/*.log
