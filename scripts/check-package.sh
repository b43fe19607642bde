#!/usr/bin/env bash
# check-package.sh BUILD_DIR: builds the Debian package of a built tree, runs
# lintian on it, installs it (as root with dpkg -i, removed again at the end;
# otherwise unpacked into a scratch folder) and tries what it installed: both
# programs' --version, both manual pages with man -l, the template refusing
# to update itself, and --init from it.
set -euo pipefail
build="$(cd "$1" && pwd)"
scratch="$(mktemp -d)"
installed=0
cleanup() {
    [ "$installed" = 1 ] && dpkg --purge tidewell >/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/package/tidewell_*.deb)"
echo "package: $deb"
lintian --fail-on error "$deb"

dpkg-deb -x "$deb" "$scratch/root"
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W tidewell >/dev/null 2>&1; then
    dpkg -i "$deb" >/dev/null
    installed=1
    prefix=/usr
else
    echo "not installing (not root, or installed already): trying the unpacked copy"
    prefix="$scratch/root/usr"
fi

"$prefix/bin/TidewellKiro" --version
"$prefix/bin/TidewellMakeList" --version
for page in TidewellKiro TidewellMakeList; do
    file="$prefix/share/man/man1/$page.1.gz"
    if [ ! -f "$file" ]; then
        # Minimal images tell dpkg to leave manual pages out.
        echo "dpkg left out $file: reading the packaged copy"
        file="$scratch/root/usr/share/man/man1/$page.1.gz"
    fi
    MANWIDTH=80 man -l "$file" | grep -q -- '--version'
    echo "man -l $page.1.gz: ok"
done

# The packaged updater is only a template: it refuses to update its folder.
template="$(readlink -f "$prefix/bin/TidewellKiro")"
before="$(ls -A "$(dirname "$template")")"
if "$prefix/bin/TidewellKiro" --headless 1 2>/dev/null; then
    echo "the template ran an update" >&2
    exit 1
fi
[ "$(ls -A "$(dirname "$template")")" = "$before" ] || { echo "the template folder changed" >&2; exit 1; }

"$prefix/bin/TidewellKiro" --init "$scratch/client" --server http://127.0.0.1:9/rel/ >/dev/null
cmp "$template" "$scratch/client/TidewellKiro"
grep -q '^SVR_PORT_NO=9' "$scratch/client/config/Tidewell.ini"
echo "package checks passed"
