#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    libcurl4-openssl-dev libssl-dev zlib1g-dev libgtest-dev
    nginx-light python3 openssl curl wget gzip zip unzip rsync time aria2
    libfreetype-dev fonts-dejavu-core wine
    qt6-base-dev fonts-nanum xauth libgl-dev
    xvfb openbox xdotool libx11-dev
    help2man lintian man-db file
    clang libclang-rt-14-dev llvm
)

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
else
    as_root=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${TIDEWELL_FORCE_APT:-}" = 1 ]; then
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
        "${packages[@]}" >/dev/null
fi
