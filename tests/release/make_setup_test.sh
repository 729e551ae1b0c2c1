#!/usr/bin/env bash
# make setup, driven through the Makefile as a release engineer runs it.
#   make_setup_test.sh inputs       TOP TOOL WORK   bad settings: one line, nothing built
#   make_setup_test.sh reproducible TOP TOOL WORK   two builds of the same inputs: same bytes
#   make_setup_test.sh signed       TOP TOOL WORK   Authenticode signatures that verify, and
#                                                    fail to once a byte changes
# TOOL is the native setup-payload (so no run builds it); WORK holds the
# fixtures, the release folder and the release tree (kept between runs, so
# that a second run only packs, relinks and compares). SAMPLE_APP (from the
# environment) is the sample application built with a file version,
# SAMPLE_APP_VERSION that version.
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
cp "${SAMPLE_APP:?the sample application built with a version}" "$fx/Quentar.exe"
app_version=${SAMPLE_APP_VERSION:?}
printf 'MZ camera sdk\n' >"$fx/sdk.dll"
printf 'MZ xml parser\n' >"$fx/msxml3.dll"
printf 'notes\n' >"$fx/readme.txt"
printf '%%PDF-1.4 help\n' >"$fx/companions/help.pdf"
printf 'JFIF repo\n' >"$fx/companions/repo.jpg"
printf 'a\n' >"$fx/nested/a.txt"
printf 'b\n' >"$fx/nested/sub/b.txt"
printf '{\\rtf1\\ansi Release agreement\\par}\n' >"$fx/eula.rtf"
printf 'This agreement is plain text.\n' >"$fx/notes.txt"
# A throwaway signing certificate, its key as PEM and both in a PKCS#12
# file, and a key of another certificate.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quentar Setup test signing" \
    -addext extendedKeyUsage=codeSigning -keyout "$fx/sign.key" -out "$fx/sign.pem" 2>/dev/null ||
    { echo "FAIL: openssl cannot make a certificate" >&2; exit 1; }
openssl pkcs12 -export -in "$fx/sign.pem" -inkey "$fx/sign.key" -passout pass:s3cret -out "$fx/sign.pfx"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$fx/other.key" 2>/dev/null

# make_setup VAR=VALUE...: make setup with these settings; stdout and stderr
# go to $work/out and $work/err, the exit code to $code. The deps step is
# skipped (-o deps): the packages are there, and it would cost every row.
make_setup() {
    env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL -u VERSION -u LICENSE -u FILES -u KEY -u SOURCE_DATE_EPOCH \
        -u SIGN_CERT -u SIGN_KEY -u SIGN_PASSWORD \
        SETUP_RELEASE_DIR="$release" SETUP_RELEASE_TREE="$work/tree" SETUP_PAYLOAD_TOOL="$tool" \
        make -s --no-print-directory -C "$top" -o deps setup "$@" >"$work/out" 2>"$work/err"
    code=$?
}

# check_pe_flags EXE: the shipped program's imports are the allowed ones
# (SETUP_STATIC_IMPORTS, from the test's environment) and it is
# large-address aware.
check_pe_flags() {
    # shellcheck disable=SC2086  # the list is space-separated DLL names
    python3 "$top/scripts/check-imports.py" "$1" --allow ${SETUP_STATIC_IMPORTS:?} --large-address-aware \
        >"$work/pe-flags" || fail "$1: $(grep -v '^\(allowed\|static\|delayed\|large\)' "$work/pe-flags")"
}

if [ "$mode" = inputs ]; then
    # Each bad setting stops make setup before anything is built, with one
    # line naming the setting and its value; an earlier Setup.exe in the
    # release folder is removed, so it cannot be shipped for this one.
    dev="the setup program does not tell the cases of A-Z apart"
    roles="it installs Quentar.exe, AV2000SDK.dll, help.pdf, repo.jpg, zorbel.dll, zorbelreg.exe and runs"
    roles+=" AXISMediaControlSDK_redist.exe, AxisAACDecoderSetup.msi, AxisH264DecoderSetup.msi, AxisMPEG4DecoderSetup.msi"
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
VERSION=5.2.0.1 FILES="$fx/Quentar.exe"|make setup: VERSION="5.2.0.1" differs from the file version of the carried Quentar.exe, $app_version: leave VERSION out, or carry the Quentar.exe of 5.2.0.1
FILES="Quentar.exe=$fx/app.exe"|make setup: FILES: Quentar.exe has no file version (no version resource); Setup.exe tells an installed Quentar from this one by it
FILES="AV2000SDK.dll=$fx/sdk.dll;$fx/companions"|make setup: FILES: no entry "Quentar.exe": Setup.exe installs nothing without the application
FILES="$fx/Quentar.exe;$fx/msxml3.dll"|make setup: FILES: entry "msxml3.dll" is never installed or run by Setup.exe; $roles
FILES="$fx/readme.txt;$fx/Quentar.exe;$fx/msxml3.dll"|make setup: FILES: entries "readme.txt", "msxml3.dll" are never installed or run by Setup.exe; $roles
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
SIGN_KEY="$fx/sign.key" FILES="$fx/app.exe"|make setup: SIGN_KEY="$fx/sign.key": no SIGN_CERT, the certificate to sign with
SIGN_CERT="$fx/missing.pem" SIGN_KEY="$fx/sign.key" FILES="$fx/app.exe"|make setup: SIGN_CERT="$fx/missing.pem": no such readable file
SIGN_CERT="$fx/sign.pem" FILES="$fx/app.exe"|make setup: SIGN_CERT="$fx/sign.pem": a certificate without its key: give SIGN_KEY, or a .pfx/.p12 file that holds both
SIGN_CERT="$fx/sign.pem" SIGN_KEY="$fx/other.key" FILES="$fx/app.exe"|make setup: SIGN_KEY="$fx/other.key": not the key of SIGN_CERT="$fx/sign.pem"
SIGN_CERT="$fx/sign.key" SIGN_KEY="$fx/sign.key" FILES="$fx/app.exe"|make setup: SIGN_CERT="$fx/sign.key": not a certificate (PEM or DER)
SIGN_CERT="$fx/sign.pfx" SIGN_PASSWORD=wrong FILES="$fx/app.exe"|make setup: SIGN_CERT="$fx/sign.pfx": not a PKCS#12 file that SIGN_PASSWORD opens
SIGN_CERT="$fx/sign.pfx" SIGN_KEY="$fx/sign.key" SIGN_PASSWORD=s3cret FILES="$fx/app.exe"|make setup: SIGN_KEY="$fx/sign.key": SIGN_CERT="$fx/sign.pfx" is a PKCS#12 file, which holds the key itself
EOF

elif [ "$mode" = reproducible ]; then
    # The development tree's Setup.exe is no business of make setup.
    dev_exe=$top/build/win32/Setup.exe
    dev_before=$(sha256sum "$dev_exe" 2>/dev/null)
    # No VERSION: the carried Quentar.exe's file version is the setup's.
    settings=(LICENSE="$fx/eula.rtf" SOURCE_DATE_EPOCH=1700000000
              FILES="$fx/Quentar.exe;AV2000SDK.dll=$fx/sdk.dll;$fx/companions")
    make_setup "${settings[@]}"
    [ "$code" = 0 ] || { cat "$work/out" "$work/err" >&2; echo "FAIL: first make setup: exit $code" >&2; exit 1; }
    grep -qx "Built $release/Setup.exe: version $app_version, 4 files; their list: $release/payload.txt" "$work/out" ||
        fail "closing line: $(tail -n 2 "$work/out")"
    offers="It offers Quentar $app_version (Quentar.exe with help.pdf, repo.jpg), the Arecont Vision runtime"
    offers+=" (AV2000SDK.dll); not the Axis runtime (no Axis package)"
    grep -qxF "$offers" "$work/out" || fail "components offered: $(tail -n 1 "$work/out")"
    mkdir -p "$work/first"
    cp "$release"/* "$work/first/"

    # Again, with every input touched: the same bytes.
    touch "$fx/Quentar.exe" "$fx/sdk.dll" "$fx/companions"/*
    make_setup "${settings[@]}"
    [ "$code" = 0 ] || { cat "$work/err" >&2; fail "second make setup: exit $code"; }
    for f in Setup.exe payload.qpk payload.txt SHA256SUMS; do
        cmp -s "$work/first/$f" "$release/$f" || fail "$f differs between two builds of the same inputs"
    done

    # The program carries the files, readable straight from it.
    "$tool" list --sha256 "$release/Setup.exe" >"$work/listed" || fail "setup-payload list Setup.exe: exit $?"
    cmp -s "$work/listed" "$release/payload.txt" || fail "payload.txt is not the list of Setup.exe's payload"
    for pair in Quentar.exe:Quentar.exe AV2000SDK.dll:sdk.dll help.pdf:companions/help.pdf repo.jpg:companions/repo.jpg; do
        entry=${pair%%:*} file=$fx/${pair#*:}
        line="$entry	$(wc -c <"$file" | tr -d ' ')	"
        grep -q "^$line.*	2023-11-14T22:13:20Z	$(sha256sum "$file" | cut -d' ' -f1)\$" "$work/listed" ||
            fail "$entry is not listed with its size, the epoch and its SHA-256: $(grep "^$entry	" "$work/listed")"
    done
    # A payload changed after the build, or its SHA-256, is refused by the
    # archive tool as by the program.
    python3 "$top/tests/common/tamper_setup.py" "$release/Setup.exe" "$work/flipped.exe" "$work/wrong-digest.exe"
    for exe in flipped wrong-digest; do
        if "$tool" list "$work/$exe.exe" >/dev/null 2>"$work/list.err"; then fail "setup-payload list accepts $exe.exe"; fi
        grep -q "its SHA-256 differs from the one in resource RCDATA 103" "$work/list.err" ||
            fail "$exe.exe: $(cat "$work/list.err")"
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
    [ "$version" = "$app_version" ] || fail "Setup.exe has file version $version"

    # KEY gives the archive's key, and another epoch with the same files is
    # packed anew, not taken from the last run. VERSION, given as the
    # executable's, is taken.
    key=000102030405060708090a0b0c0d0e0f
    make_setup "${settings[@]}" KEY=$key SOURCE_DATE_EPOCH=1700000001 VERSION="$app_version"
    [ "$code" = 0 ] || { cat "$work/err" >&2; fail "make setup with KEY: exit $code"; }
    [ "$(head -c 16 "$release/payload.qpk" | od -An -tx1 | tr -d ' \n')" = $key ] || fail "KEY is not the archive's key"
    [ "$(cut -f4 "$release/payload.txt" | sort -u)" = 2023-11-14T22:13:21Z ] ||
        fail "the new epoch is not what Setup.exe carries: $(cut -f4 "$release/payload.txt" | sort -u)"
    "$tool" list "$release/Setup.exe" | grep -q '	2023-11-14T22:13:21Z$' || fail "Setup.exe does not carry the new archive"

    [ "$(sha256sum "$dev_exe" 2>/dev/null)" = "$dev_before" ] || fail "make setup changed $dev_exe"
    check_pe_flags "$release/Setup.exe"

elif [ "$mode" = signed ]; then
    # Signed with the key and certificate as PEM files, then with the same
    # pair in a PKCS#12 file: both verify against the certificate, at the
    # signing time SOURCE_DATE_EPOCH, so the two are the same bytes.
    settings=(LICENSE="$fx/eula.rtf" SOURCE_DATE_EPOCH=1700000000
              FILES="$fx/Quentar.exe;AV2000SDK.dll=$fx/sdk.dll;$fx/companions")
    for how in pem pfx; do
        if [ $how = pem ]; then
            make_setup "${settings[@]}" SIGN_CERT="$fx/sign.pem" SIGN_KEY="$fx/sign.key"
        else
            make_setup "${settings[@]}" SIGN_CERT="$fx/sign.pfx" SIGN_PASSWORD=s3cret
        fi
        [ "$code" = 0 ] || { cat "$work/out" "$work/err" >&2; fail "make setup signed with $how: exit $code"; continue; }
        grep -q "^Signed with $fx/sign.$how (Authenticode, SHA-256)\$" "$work/out" || fail "$how: no line about the signature"
        cp "$release/Setup.exe" "$work/signed-$how.exe"
        osslsigncode verify -CAfile "$fx/sign.pem" -in "$release/Setup.exe" >"$work/verify" 2>&1 ||
            fail "$how: the signed Setup.exe does not verify: $(grep -iE 'fail|error' "$work/verify" | head -n 3)"
        grep -q "Message digest algorithm *: SHA256" "$work/verify" || fail "$how: not signed with SHA-256"
        # What is published is the signed program: its sums and its payload.
        (cd "$release" && sha256sum --quiet -c SHA256SUMS) || fail "$how: SHA256SUMS is not of the signed Setup.exe"
        "$tool" list --sha256 "$release/Setup.exe" | cmp -s - "$release/payload.txt" ||
            fail "$how: the signed Setup.exe does not carry payload.txt's files"
    done
    cmp -s "$work/signed-pem.exe" "$work/signed-pfx.exe" || fail "signed with PEM files and with PKCS#12: different bytes"
    check_pe_flags "$release/Setup.exe"

    # One byte changed anywhere the signature covers, here in the middle of
    # the file, and the signature no longer verifies.
    cp "$release/Setup.exe" "$work/tampered.exe"
    at=$(( $(wc -c <"$work/tampered.exe") / 2 ))
    byte=$(od -An -tu1 -j "$at" -N 1 "$work/tampered.exe" | tr -d ' ')
    printf "$(printf '\\%03o' $(( byte ^ 1 )))" | dd of="$work/tampered.exe" bs=1 seek="$at" conv=notrunc 2>/dev/null
    cmp -s "$release/Setup.exe" "$work/tampered.exe" && fail "the byte was not changed"
    if osslsigncode verify -CAfile "$fx/sign.pem" -in "$work/tampered.exe" >"$work/verify" 2>&1; then
        fail "Setup.exe with one byte changed still verifies"
    fi
    grep -q "MISMATCH" "$work/verify" || fail "the changed byte is not reported as a digest mismatch: $(tail -n 3 "$work/verify")"
else
    echo "unknown mode $mode" >&2
    exit 2
fi

if [ $failures -ne 0 ]; then echo "$failures check(s) failed" >&2; exit 1; fi
echo "all make setup checks ($mode) passed"
