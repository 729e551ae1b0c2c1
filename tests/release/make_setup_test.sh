#!/usr/bin/env bash
# make setup, driven through the Makefile as a release engineer runs it.
#   make_setup_test.sh inputs       TOP TOOL WORK   bad settings: one line, nothing built
#   make_setup_test.sh reproducible TOP TOOL WORK   two builds of the same inputs: same bytes
# TOOL is the native setup-payload (so no run builds it); WORK holds the
# fixtures, the release folder and the release tree (kept between runs, so
# that a second run only packs, relinks and compares).
set -uo pipefail
mode=$1 top=$2 tool=$3 work=$4
[ -x "$tool" ] || { echo "no setup-payload at $tool" >&2; exit 1; }
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

fx=$work/fixtures
release=$work/release
rm -rf "$fx" "$release"
mkdir -p "$fx/companions" "$fx/nested/sub" "$fx/empty" "$release"
printf 'MZ application\n' >"$fx/app.exe"
printf 'MZ camera sdk\n' >"$fx/sdk.dll"
printf '%%PDF-1.4 help\n' >"$fx/companions/help.pdf"
printf 'JFIF repo\n' >"$fx/companions/repo.jpg"
printf 'a\n' >"$fx/nested/a.txt"
printf 'b\n' >"$fx/nested/sub/b.txt"
printf '{\\rtf1\\ansi Release agreement\\par}\n' >"$fx/eula.rtf"
printf 'This agreement is plain text.\n' >"$fx/notes.txt"

# make_setup VAR=VALUE...: make setup with these settings; stdout and stderr
# go to $work/out and $work/err, the exit code to $code. The deps step is
# skipped (-o deps): the packages are there, and it would cost every row.
make_setup() {
    env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL -u VERSION -u LICENSE -u FILES -u KEY -u SOURCE_DATE_EPOCH \
        SETUP_RELEASE_DIR="$release" SETUP_RELEASE_TREE="$work/tree" SETUP_PAYLOAD_TOOL="$tool" \
        make -s --no-print-directory -C "$top" -o deps setup "$@" >"$work/out" 2>"$work/err"
    code=$?
}

if [ "$mode" = inputs ]; then
    # Each bad setting stops make setup before anything is built, with one
    # line naming the setting and its value; an earlier Setup.exe in the
    # release folder is removed, so it cannot be shipped for this one.
    dev="the setup program does not tell the cases of A-Z apart"
    while IFS='|' read -r settings expected; do
        [ -n "$settings" ] || continue
        eval "args=($settings)"
        printf 'old release\n' >"$release/Setup.exe"
        rm -rf "$work/tree"
        make_setup "${args[@]}"
        got=$(grep -vE '^make(\[[0-9]+\])?: \*\*\*' "$work/err")
        [ "$code" != 0 ] || fail "$settings: exit 0"
        [ "$got" = "$expected" ] || fail "$settings:"$'\n'"  got:    $got"$'\n'"  wanted: $expected"
        [ -z "$(ls -A "$release")" ] || fail "$settings: the release folder holds $(ls -A "$release")"
        [ ! -e "$work/tree" ] || fail "$settings: the release tree was made"
    done <<EOF
FILES="$fx/sdk.dll;"|make setup: FILES="$fx/sdk.dll;": item 2 is empty (a doubled or trailing ';')
FILES="$fx/app.exe;;$fx/sdk.dll"|make setup: FILES="$fx/app.exe;;$fx/sdk.dll": item 2 is empty (a doubled or trailing ';')
FILES=";$fx/app.exe"|make setup: FILES=";$fx/app.exe": item 1 is empty (a doubled or trailing ';')
FILES=|make setup: FILES is empty: name the files to carry, e.g. FILES="Quentar.exe=/rel/Quentar.exe;/rel/AV2000SDK.dll"
FILES="$fx/missing.dll"|make setup: FILES item "$fx/missing.dll": no such file or folder
FILES="rel/missing.dll"|make setup: FILES item "rel/missing.dll": no such file or folder (looked for at $top/rel/missing.dll)
FILES="Quentar.exe="|make setup: FILES item "Quentar.exe=": no file after the ENTRY= name
FILES="$fx/app.exe;$fx/nested"|make setup: FILES: $fx/nested: holds the folder "sub"; entries are bare file names, so a folder's subfolders cannot be carried
FILES="$fx/app.exe;$fx/empty"|make setup: FILES: $fx/empty: is an empty folder
FILES="Quentar.exe=$fx/companions"|make setup: FILES: $fx/companions: is a folder; ENTRY=FILE names one file
FILES="$fx/sdk.dll;SDK.DLL=$fx/app.exe"|make setup: FILES: entry name "SDK.DLL" is given twice: for $fx/sdk.dll and for $fx/app.exe ($dev)
FILES="CON=$fx/app.exe"|make setup: FILES: $fx/app.exe: entry name "CON" is a device name Windows reserves (CON, PRN, AUX, NUL, COM1-9, LPT1-9), with or without an extension
FILES="nul.txt=$fx/app.exe"|make setup: FILES: $fx/app.exe: entry name "nul.txt" is a device name Windows reserves (CON, PRN, AUX, NUL, COM1-9, LPT1-9), with or without an extension
FILES="readme.=$fx/app.exe"|make setup: FILES: $fx/app.exe: entry name "readme." ends with a dot or a space, which Windows strips from file names
VERSION=5.2.0.70000 FILES="$fx/app.exe"|make setup: VERSION="5.2.0.70000": 70000 is larger than 65535, the largest part of a file version
VERSION=5.010.0.1 FILES="$fx/app.exe"|make setup: VERSION="5.010.0.1": 010 has a leading zero, which the version resource reads as octal
VERSION=5.2.0 FILES="$fx/app.exe"|make setup: VERSION="5.2.0": not four dot-separated numbers (like 5.2.0.1)
LICENSE="$fx/notes.txt" FILES="$fx/app.exe"|make setup: LICENSE="$fx/notes.txt": not an RTF document (it does not begin with {\rtf); save the agreement as RTF
LICENSE="$fx/companions" FILES="$fx/app.exe"|make setup: LICENSE="$fx/companions": a folder, not the agreement's RTF file
LICENSE="$fx/eula.doc" FILES="$fx/app.exe"|make setup: LICENSE="$fx/eula.doc": no such file
KEY=00ff FILES="$fx/app.exe"|make setup: KEY="00ff": not 32 hexadecimal digits
SOURCE_DATE_EPOCH=yesterday FILES="$fx/app.exe"|make setup: SOURCE_DATE_EPOCH="yesterday": not a number of seconds since 1970
EOF

elif [ "$mode" = reproducible ]; then
    # The development tree's Setup.exe is no business of make setup.
    dev_exe=$top/build/win32/Setup.exe
    dev_before=$(sha256sum "$dev_exe" 2>/dev/null)
    settings=(VERSION=5.2.0.1 LICENSE="$fx/eula.rtf" SOURCE_DATE_EPOCH=1700000000
              FILES="Quentar.exe=$fx/app.exe;$fx/sdk.dll;$fx/companions")
    make_setup "${settings[@]}"
    [ "$code" = 0 ] || { cat "$work/out" "$work/err" >&2; echo "FAIL: first make setup: exit $code" >&2; exit 1; }
    grep -qx "Built $release/Setup.exe: version 5.2.0.1, 4 files; their list: $release/payload.txt" "$work/out" ||
        fail "closing line: $(tail -n 1 "$work/out")"
    mkdir -p "$work/first"
    cp "$release"/* "$work/first/"

    # Again, with every input touched: the same bytes.
    touch "$fx/app.exe" "$fx/sdk.dll" "$fx/companions"/*
    make_setup "${settings[@]}"
    [ "$code" = 0 ] || { cat "$work/err" >&2; fail "second make setup: exit $code"; }
    for f in Setup.exe payload.qpk payload.txt SHA256SUMS; do
        cmp -s "$work/first/$f" "$release/$f" || fail "$f differs between two builds of the same inputs"
    done

    # The program carries the files, readable straight from it.
    "$tool" list --sha256 "$release/Setup.exe" >"$work/listed" || fail "setup-payload list Setup.exe: exit $?"
    cmp -s "$work/listed" "$release/payload.txt" || fail "payload.txt is not the list of Setup.exe's payload"
    for pair in Quentar.exe:app.exe sdk.dll:sdk.dll help.pdf:companions/help.pdf repo.jpg:companions/repo.jpg; do
        entry=${pair%%:*} file=$fx/${pair#*:}
        line="$entry	$(wc -c <"$file" | tr -d ' ')	"
        grep -q "^$line.*	2023-11-14T22:13:20Z	$(sha256sum "$file" | cut -d' ' -f1)\$" "$work/listed" ||
            fail "$entry is not listed with its size, the epoch and its SHA-256: $(grep "^$entry	" "$work/listed")"
    done
    # The file version is the one asked for, in the fixed part of the version
    # resource (the greeting reads it there).
    version=$(python3 - "$release/Setup.exe" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = data.find(struct.pack('<I', 0xFEEF04BD), data.find('VS_VERSION_INFO'.encode('utf-16-le')))
ms, ls = struct.unpack_from('<II', data, at + 8)
print(f'{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}')
PY
)
    [ "$version" = 5.2.0.1 ] || fail "Setup.exe has file version $version"

    # KEY gives the archive's key, and another epoch with the same files is
    # packed anew, not taken from the last run.
    key=000102030405060708090a0b0c0d0e0f
    make_setup "${settings[@]}" KEY=$key SOURCE_DATE_EPOCH=1700000001
    [ "$code" = 0 ] || { cat "$work/err" >&2; fail "make setup with KEY: exit $code"; }
    [ "$(head -c 16 "$release/payload.qpk" | od -An -tx1 | tr -d ' \n')" = $key ] || fail "KEY is not the archive's key"
    [ "$(cut -f4 "$release/payload.txt" | sort -u)" = 2023-11-14T22:13:21Z ] ||
        fail "the new epoch is not what Setup.exe carries: $(cut -f4 "$release/payload.txt" | sort -u)"
    "$tool" list "$release/Setup.exe" | grep -q '	2023-11-14T22:13:21Z$' || fail "Setup.exe does not carry the new archive"

    [ "$(sha256sum "$dev_exe" 2>/dev/null)" = "$dev_before" ] || fail "make setup changed $dev_exe"
else
    echo "unknown mode $mode" >&2
    exit 2
fi

if [ $failures -ne 0 ]; then echo "$failures check(s) failed" >&2; exit 1; fi
echo "all make setup checks ($mode) passed"
