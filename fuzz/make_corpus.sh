#!/usr/bin/env bash
# make_corpus.sh BUILD_DIR: remakes the fuzzers' starting inputs in corpus/
# from the same real files the tests make: lists written by TidewellMakeList
# and in code page 949, gzip output, archives from Info-ZIP and Python's
# zipfile (tests/zip/make_archives.py), settings files, headers and paths.
# BUILD_DIR is a normal build (it provides TidewellMakeList). Kept small:
# only files of a few KiB go in.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
corpus="$here/corpus"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
rm -rf "$corpus"
mkdir -p "$corpus"/{list_file,gzip,zip,profile,last_modified,url,split_string}

# ---- list files ----
rel="$work/rel"
mkdir -p "$rel/app/bin" "$rel/data" "$rel/pack" "$rel/tools" "$rel/한글"
printf 'hello reader\n' >"$rel/app/readme.txt"
head -c 3000 /dev/zero | tr '\0' e >"$rel/app/bin/engine.dat"
printf 'notes\n' >"$rel/data/notes.txt" && gzip -9 "$rel/data/notes.txt"
(cd "$rel/app" && zip -q -r "$rel/pack/bundle.zip" readme.txt)
printf '#!/bin/sh\necho ran\n' >"$rel/tools/hello.sh"
printf 'korean name' >"$rel/한글/파일.txt"
touch -d '2024-03-15 09:07:02 UTC' $(find "$rel" -type f)
"$build/console/TidewellMakeList" --gzip-static --type 'tools/hello.sh=EXE|w=1' \
    --type '*.dll=REG' --delete old/obsolete.txt "$rel" >/dev/null
cp "$rel/_listfile.txt" "$corpus/list_file/make_list.txt"
python3 - "$corpus/list_file" <<'PY'
import sys, os
out = sys.argv[1]
def put(name, text, enc='utf-8'):
    open(os.path.join(out, name), 'wb').write(text.encode(enc) if isinstance(text, str) else text)
put('cp949.txt', '# 목록\r\n한글/파일.txt,,,,20240315090702,11\r\n똠방/각하.dll,자료/각하.dll,,REG\r\n', 'cp949')
put('types.txt', 'a/b.dll,,,REG\nsrc/a.dll,bin\\x/a.dll,SYSTEM,ZIP,2024-03-15 09:07:02,1234,ignored\n'
    '"a,b.dll",t/x.dll,SYS\na.dll,"my dir/a,1.dll",,REG\na.dll,,"SYS,x",REG\n'
    'run.exe,,,EXE|w=1/a="-x,y",20240101000000\nmissing/a.bin,,,NON|p=1,20240101000000,10\n'
    'f/a.ttf,_FONTS/a.ttf,,FNT\nc.dll,/opt/c.dll\nx.reg,,,REF|PASS\nz.zip,,,ZRG\nn.dll,,,ASM\n')
put('resource.txt', '#a.dll,,,REG\r\n!b.dll\r\n\r\n   \r\na.png\nb.zip,,,ZIP\nc.dll,,,REG\nd.png,,SYS\n'
    'e.exe\nconfig/x.mdb\ndata/x.mdb\nf.txt,,,DEL\nTidewellKiroRun1\nCorvid@Loomhall.dat\n')
PY

# ---- gzip ----
printf 'scripted body\n' | gzip -9 >"$corpus/gzip/text.gz"
printf 'one\n' | gzip -n >"$work/a.gz"
printf 'two\n' | gzip -n >"$work/b.gz"
cat "$work/a.gz" "$work/b.gz" >"$corpus/gzip/two_members.gz"
gzip -c -9 "$rel/app/bin/engine.dat" >"$corpus/gzip/named.gz"
python3 -c "import gzip,sys; sys.stdout.buffer.write(gzip.compress(b'x'*2000 + b'end', mtime=0))" \
    >"$corpus/gzip/python.gz"
printf 'not gzip at all\n' >"$corpus/gzip/plain.txt"

# ---- zip ----
(cd "$rel/app" && zip -q -r -9 "$corpus/zip/info_zip_deflated.zip" . &&
    zip -q -r -0 "$corpus/zip/info_zip_stored.zip" readme.txt &&
    zip -q -P secret "$corpus/zip/info_zip_encrypted.zip" readme.txt &&
    zip -q - readme.txt >"$corpus/zip/info_zip_streamed.zip")
python3 "$here/../tests/zip/make_archives.py" "$work/py" >/dev/null
for f in "$work"/py/*.zip; do
    [ "$(stat -c %s "$f")" -le 9000 ] && cp "$f" "$corpus/zip/$(basename "$f")"
done

# ---- settings files ----
printf '[TIDE]\r\nSVR_IP_ADDR=127.0.0.1\r\nSVR_PORT_NO=8080\r\nDOWNLOAD_BASE_URL=rel\r\nLIST_FILE_NAME=_listfile.txt\r\nSVR_HTTPS=0\r\nTIME_CHECK_SPAN=5\r\nENCODE_URL_UTF=1\r\nLAST_SETUP_DATE=2026-01-01 00:00:00\r\n' \
    >"$corpus/profile/tidewell.ini"
printf 'RESOURCE\nALLOW_FILE_TYPE\n txt,dll \0\xef\xbb\xbf; comment\n[TIDE]\nSVR_IP_ADDR = "10.0.0.1"\n[RESOURCE]\nALLOW_FILE_TYPE=png\n' \
    >"$corpus/profile/write_resource.ini"
printf 'LOG\nLEVEL\n2\0[tide]\nsvr_port_no=1\n[TIDE]\nx=1' >"$corpus/profile/no_final_break.ini"

# ---- Last-Modified headers ----
for h in 'Tue, 15 Nov 1994 08:12:31 GMT' 'Sunday, 06-Nov-94 08:49:37 GMT' \
    'Sun Nov  6 08:49:37 1994' 'Tue, 15 Nov 1994 08:12:31 +0900'; do
    printf '%s' "$h" >"$corpus/last_modified/$(printf '%s' "$h" | md5sum | cut -c1-8)"
done

# ---- request paths ----
printf 'base/dl/data.bin' >"$corpus/url/plain"
printf 'rel/한글/파일.txt' >"$corpus/url/korean"
printf 'rel/\xc7\xd1\xb1\xdb.txt' >"$corpus/url/cp949"
printf 'a b/%%41%%zz/c\\d?e#f' >"$corpus/url/escapes"

# ---- command lines and split texts (first byte picks the separators) ----
printf '\x003 txt,dll' >"$corpus/split_string/resource_mode"
printf '\x001\0dll, ocx\0\0--headless' >"$corpus/split_string/words"
printf '\x01"a b",c,,"d\\"e"' >"$corpus/split_string/quotes"
