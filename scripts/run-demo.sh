#!/usr/bin/env bash
# The demo: builds the updater, publishes a signed sample release on a local
# nginx, checks that the server serves it as listed (and shows a mismatch),
# updates a scratch installation from it headless, shows the result,
# runs again to show that nothing is fetched twice, and shows a tampered
# list being refused.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
out="${TIDEWELL_BUILD_ROOT:-$root/out}"
echo "== building"
cmake -S "$root" -B "$out/plain" -G Ninja -DTIDEWELL_WERROR=ON >/dev/null
cmake --build "$out/plain" --target TidewellKiro TidewellMakeList -j "$(nproc)"
bin="$out/plain/console"

demo="$out/demo"
rm -rf "$demo"
www="$demo/www"
rel="$www/rel"
mkdir -p "$rel/app/lib" "$rel/docs" "$rel/pack" "$rel/tools" "$demo/nginx/logs" \
    "$demo/install/config" "$demo/install/old" "$demo/desktop" "$demo/wine" "$demo/keys"

echo "== making the publisher's signing key"
"$bin/TidewellMakeList" --new-key "$demo/keys/release.pem"

echo "== publishing a signed sample release in $rel"
echo "Welcome to the sample release." >"$rel/app/readme.txt"
head -c 300000 /dev/urandom >"$rel/app/lib/engine.bin"
seq 1 20000 | sed 's/^/manual line /' >"$rel/docs/manual.txt"
gzip -9 "$rel/docs/manual.txt"  # served gzip-encoded as docs/manual.txt
mkdir -p "$demo/zipsrc/plugins"
echo "a plug-in shipped inside an archive" >"$demo/zipsrc/plugins/readme.txt"
(cd "$demo/zipsrc" && zip -q -r "$rel/pack/plugins.zip" plugins)
cat >"$rel/tools/setup.sh" <<'SCRIPT'
#!/bin/sh
echo "setup ran in $(dirname "$0")" > "$(dirname "$0")/setup.log"
SCRIPT
cat >"$rel/Corvid@LoomhallKiro" <<'SCRIPT'
#!/bin/sh
echo "development tool started for $1" > "$1/tool-started.txt"
SCRIPT
"$bin/TidewellMakeList" --gzip-static --type 'tools/setup.sh=EXE|w=1' \
    --delete old/obsolete.txt --key "$demo/keys/release.pem" --expires 30 "$rel"
cat "$rel/_listfile.txt"

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
cat >"$demo/nginx/nginx.conf" <<CONF
daemon on;
master_process off;
error_log $demo/nginx/logs/error.log;
pid $demo/nginx/nginx.pid;
events { worker_connections 64; }
http {
    access_log $demo/nginx/logs/access.log;
    client_body_temp_path $demo/nginx/body;
    proxy_temp_path $demo/nginx/proxy;
    fastcgi_temp_path $demo/nginx/fastcgi;
    uwsgi_temp_path $demo/nginx/uwsgi;
    scgi_temp_path $demo/nginx/scgi;
    server {
        listen 127.0.0.1:$port;
        root $www;
        location /rel/ { gzip_static always; }
    }
}
CONF
nginx -c "$demo/nginx/nginx.conf" -p "$demo/nginx"
trap 'kill "$(cat "$demo/nginx/nginx.pid")" 2>/dev/null || true' EXIT
echo "== nginx serves it on 127.0.0.1:$port"

echo "== checking what the server serves: TidewellMakeList --verify URL --deep --key KEY.pub"
list_url="http://127.0.0.1:$port/rel/_listfile.txt"
"$bin/TidewellMakeList" --verify "$list_url" --deep --key "$demo/keys/release.pem.pub"
echo "== the same check after a copy that reset a file's time"
touch -r "$rel/app/readme.txt" "$demo/readme.time"
touch -d '2 hours ago' "$rel/app/readme.txt"
status=0
"$bin/TidewellMakeList" --verify "$list_url" || status=$?
echo "exit status $status (1: not served as listed)"
touch -r "$demo/readme.time" "$rel/app/readme.txt"

install="$demo/install"
cp "$out/plain/console/TidewellKiro" "$install/"
echo "left over from an old version" >"$install/old/obsolete.txt"
printf '[TIDE]\nSVR_IP_ADDR=127.0.0.1\nSVR_PORT_NO=%s\nDOWNLOAD_BASE_URL=rel\nLAST_SETUP_DATE=%s\nLIST_PUBLIC_KEY=%s\n' \
    "$port" "$(date '+%Y-%m-%d %H:%M:%S')" "$(cat "$demo/keys/release.pem.pub")" \
    >"$install/config/Tidewell.ini"
echo "== the installation trusts lists signed with that key"
cat "$install/config/Tidewell.ini"
export XDG_DESKTOP_DIR="$demo/desktop" XDG_DATA_HOME="$demo/data" XDG_CONFIG_HOME="$demo/xdgconfig"
export WINEPREFIX="$demo/wine"

echo "== first run: TidewellKiro --headless --assume-yes 1"
"$install/TidewellKiro" --headless --assume-yes 1
sleep 0.5
echo "== installation folder after the update"
(cd "$install" && find . -type f ! -path './log/*' | sort)
echo "== docs/manual.txt arrived decoded: $(wc -l <"$install/docs/manual.txt") lines"
cat "$install/tool-started.txt"
echo "== requests of the first run"
awk '{print $6, $7, $9}' "$demo/nginx/logs/access.log" | tr -d '"' | sort | uniq -c
first=$(wc -l <"$demo/nginx/logs/access.log")

echo "== second run: everything is up to date"
"$install/TidewellKiro" --headless --assume-yes 1
sleep 0.5
echo "== requests of the second run (only the list file)"
tail -n +"$((first + 1))" "$demo/nginx/logs/access.log" | awk '{print $6, $7, $9}' | tr -d '"'
echo "== log (last lines)"
tail -n 25 "$install"/log/Tidewell_1_*.log
grep LIST_VERSION "$install/config/Tidewell.ini"

echo "== a list changed on its way (manual.txt made an EXE) is refused"
cp "$rel/_listfile.txt" "$demo/listfile.signed"
sed -i 's|^docs/manual.txt,,,|docs/manual.txt,,,EXE|' "$rel/_listfile.txt"
status=0
"$install/TidewellKiro" --headless --assume-yes 1 || status=$?
echo "exit status $status (2: no list file); nothing in the installation was touched"
grep "List file refused" "$install"/log/Tidewell_1_*.log | tail -n 1
cp "$demo/listfile.signed" "$rel/_listfile.txt"
