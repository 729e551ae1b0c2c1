#!/bin/sh
# End-to-end checks of setup-payload: reproducible packs, folders, list,
# extract, refused names, malformed archives and exit codes.
# usage: cli_test.sh PATH/TO/setup-payload
set -u
tool=$1
[ -x "$tool" ] || { echo "no setup-payload at $tool" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect_code() {  # expected-code description command...
    want=$1; what=$2; shift 2
    "$@" >"$work/out" 2>"$work/err"
    got=$?
    [ "$got" = "$want" ] || fail "$what: exit $got, wanted $want ($(cat "$work/err"))"
}

key=000102030405060708090a0b0c0d0e0f
mkdir -p "$work/in"
printf 'hello hello hello hello\n' >"$work/in/a.txt"
: >"$work/in/empty.bin"
head -c 300000 /dev/urandom >"$work/in/random.bin"
i=0; while [ $i -lt 2000 ]; do echo "line $i of a text that repeats itself"; i=$((i + 1)); done >"$work/in/text.txt"

# Reproducible: same key and epoch give identical bytes; SOURCE_DATE_EPOCH
# stands in for --epoch.
expect_code 0 "pack 1" "$tool" pack -o "$work/one.bin" --key $key --epoch 1700000000 \
    "$work/in/a.txt" "$work/in/empty.bin" "$work/in/random.bin" Quentar.exe="$work/in/text.txt"
touch "$work/in/a.txt"
expect_code 0 "pack 2" "$tool" pack -o "$work/two.bin" --key $key --epoch 1700000000 \
    "$work/in/a.txt" "$work/in/empty.bin" "$work/in/random.bin" Quentar.exe="$work/in/text.txt"
cmp -s "$work/one.bin" "$work/two.bin" || fail "two packs with the same key and epoch differ"
expect_code 0 "pack with SOURCE_DATE_EPOCH" env SOURCE_DATE_EPOCH=1700000000 "$tool" pack -o "$work/three.bin" --key $key \
    "$work/in/a.txt" "$work/in/empty.bin" "$work/in/random.bin" Quentar.exe="$work/in/text.txt"
cmp -s "$work/one.bin" "$work/three.bin" || fail "SOURCE_DATE_EPOCH is not honoured"
key_of() { head -c 16 "$1" | od -An -tx1 | tr -d ' \n'; }
# Without --key and without an epoch a fresh random key is drawn each time.
env -u SOURCE_DATE_EPOCH "$tool" pack -o "$work/r1.bin" "$work/in/a.txt" &&
    env -u SOURCE_DATE_EPOCH "$tool" pack -o "$work/r2.bin" "$work/in/a.txt" || fail "pack without key"
[ "$(key_of "$work/r1.bin")" != "$(key_of "$work/r2.bin")" ] || fail "random keys repeat"
[ "$(key_of "$work/one.bin")" = "$key" ] || fail "key not stored in plain"
# With an epoch and no --key the key comes from what is stored: the same
# inputs give the same bytes, other contents or another epoch another key.
derived() {  # out epoch files...
    out=$1; epoch=$2; shift 2
    env SOURCE_DATE_EPOCH="$epoch" "$tool" pack -o "$out" "$@" || fail "pack with SOURCE_DATE_EPOCH=$epoch"
}
derived "$work/d1.bin" 1700000000 "$work/in/a.txt" "$work/in/random.bin"
touch "$work/in/random.bin"
derived "$work/d2.bin" 1700000000 "$work/in/a.txt" "$work/in/random.bin"
cmp -s "$work/d1.bin" "$work/d2.bin" || fail "two packs with the same SOURCE_DATE_EPOCH differ"
derived "$work/d3.bin" 1700000001 "$work/in/a.txt" "$work/in/random.bin"
[ "$(key_of "$work/d1.bin")" != "$(key_of "$work/d3.bin")" ] || fail "another epoch gives the same key"
cp "$work/in/a.txt" "$work/a-copy.txt"; printf '!' >>"$work/a-copy.txt"
derived "$work/d4.bin" 1700000000 a.txt="$work/a-copy.txt" "$work/in/random.bin"
[ "$(key_of "$work/d1.bin")" != "$(key_of "$work/d4.bin")" ] || fail "other contents give the same key"
"$tool" pack -o "$work/d5.bin" --epoch 1700000000 "$work/in/a.txt" "$work/in/random.bin" || fail "pack with --epoch"
cmp -s "$work/d1.bin" "$work/d5.bin" || fail "--epoch and SOURCE_DATE_EPOCH derive different keys"

# list: name, size, compressed size, last-write time.
expect_code 0 "list" "$tool" list "$work/one.bin"
if ! head -n 1 "$work/out" | grep -q "^a.txt	24	[0-9]*	2023-11-14T22:13:20Z$"; then fail "list line: $(head -n 1 "$work/out")"; fi
grep -q "^empty.bin	0	0	2023-11-14T22:13:20Z$" "$work/out" || fail "empty entry not listed"
grep -q "^Quentar.exe	$(wc -c <"$work/in/text.txt" | tr -d ' ')	" "$work/out" || fail "renamed entry not listed"
[ "$(wc -l <"$work/out")" = 4 ] || fail "list prints $(wc -l <"$work/out") lines"

# extract: same bytes and the stored time.
expect_code 0 "extract" "$tool" extract "$work/one.bin" -C "$work/x"
for f in a.txt empty.bin random.bin; do cmp -s "$work/in/$f" "$work/x/$f" || fail "$f differs after extract"; done
cmp -s "$work/in/text.txt" "$work/x/Quentar.exe" || fail "Quentar.exe differs after extract"
[ "$(stat -c %Y "$work/x/a.txt")" = 1700000000 ] || fail "last-write time not restored"

# list --sha256: the digest of each entry's data.
expect_code 0 "list --sha256" "$tool" list --sha256 "$work/one.bin"
for f in a.txt random.bin Quentar.exe; do
    want=$(sha256sum "$work/x/$f" | cut -d' ' -f1)
    grep -q "^$f	.*	$want\$" "$work/out" || fail "sha256 of $f: $(grep "^$f" "$work/out")"
done

# extract replaces nothing unless told to, and checks every target before it
# writes the first file.
echo mine >"$work/x/a.txt"
expect_code 1 "extract over an existing file" "$tool" extract "$work/one.bin" -C "$work/x"
grep -qF "$work/x/a.txt: already exists (--force replaces it)" "$work/err" || fail "existing file message: $(cat "$work/err")"
[ "$(cat "$work/x/a.txt")" = mine ] || fail "an existing file was replaced without --force"
expect_code 0 "extract --force" "$tool" extract --force "$work/one.bin" -C "$work/x"
cmp -s "$work/in/a.txt" "$work/x/a.txt" || fail "--force did not replace a.txt"
mkdir -p "$work/w/random.bin"
expect_code 1 "extract onto a folder" "$tool" extract --force "$work/one.bin" -C "$work/w"
grep -qF "$work/w/random.bin: is a folder" "$work/err" || fail "folder target message: $(cat "$work/err")"
[ "$(ls -A "$work/w")" = random.bin ] || fail "extract onto a folder left: $(ls -A "$work/w")"
expect_code 1 "extract into a file" "$tool" extract "$work/one.bin" -C "$work/in/a.txt"
grep -qF "$work/in/a.txt: not a folder" "$work/err" || fail "file as folder message: $(cat "$work/err")"

# Refused entry names.
expect_code 1 "name with separator" "$tool" pack -o "$work/bad.bin" --key $key "sub/x=$work/in/a.txt"
expect_code 1 "name with drive colon" "$tool" pack -o "$work/bad.bin" --key $key "c:x=$work/in/a.txt"
expect_code 1 "name .." "$tool" pack -o "$work/bad.bin" --key $key "..=$work/in/a.txt"
long=$(printf '%0260d' 0)
expect_code 1 "name of 260 units" "$tool" pack -o "$work/bad.bin" --key $key "$long=$work/in/a.txt"
grep -q "259" "$work/err" || fail "long name error does not say the limit"
expect_code 1 "duplicate names" "$tool" pack -o "$work/bad.bin" --key $key "$work/in/a.txt" "A.TXT=$work/in/empty.bin"
expect_code 1 "missing file" "$tool" pack -o "$work/bad.bin" --key $key "$work/in/nothing"
# Names Windows would create under another name, or not as a file at all.
for name in CON nul.txt Aux.tar.gz COM1 lpt9.log "readme." "readme " CONOUT\$; do
    expect_code 1 "entry name '$name'" "$tool" pack -o "$work/bad.bin" --key $key "$name=$work/in/a.txt"
    grep -qE "entry name \"[^\"]*\" (is a device name|ends with a dot or a space)" "$work/err" ||
        fail "entry name '$name': $(cat "$work/err")"
done
expect_code 1 "entry name with a trailing space" "$tool" pack -o "$work/bad.bin" --key $key "readme =$work/in/a.txt"
grep -qF 'entry name "readme " ends with a dot or a space, which Windows strips' "$work/err" ||
    fail "trailing space reason: $(cat "$work/err")"
# The same name twice: both files are named.
mkdir -p "$work/other"; echo other >"$work/other/A.TXT"
expect_code 1 "duplicate names" "$tool" pack -o "$work/bad.bin" --key $key "$work/in/a.txt" "$work/other/A.TXT"
grep -qF "entry name \"A.TXT\" is given twice: for $work/in/a.txt and for $work/other/A.TXT" "$work/err" ||
    fail "duplicate message: $(cat "$work/err")"
# A file name that is not UTF-8 would be stored as another name.
printf x >"$work/other/$(printf 'caf\351')"
expect_code 1 "name not UTF-8" "$tool" pack -o "$work/bad.bin" --key $key "$work/other/$(printf 'caf\351')"
grep -q 'is not valid UTF-8' "$work/err" || fail "non-UTF-8 name: $(cat "$work/err")"
rm "$work/other/$(printf 'caf\351')"
[ -e "$work/bad.bin" ] && fail "a refused pack left an archive"
# After "--" a name may begin with a dash.
expect_code 0 "pack after --" "$tool" pack -o "$work/dash.bin" --key $key -- "-v.txt=$work/in/a.txt"
"$tool" list "$work/dash.bin" | grep -q '^-v.txt	24	' || fail "entry after -- not packed"

# Folders: the files directly in them, in name order; a subfolder, an empty
# folder and ENTRY=FOLDER are refused, naming the folder.
mkdir -p "$work/folder"
printf 'b' >"$work/folder/b.dll"; printf 'a' >"$work/folder/a.dll"; printf 'h' >"$work/folder/.hidden"
expect_code 0 "pack of a folder" "$tool" pack -o "$work/folder.bin" --key $key "$work/in/a.txt" "$work/folder"
"$tool" list "$work/folder.bin" | cut -f1 | tr '\n' ' ' >"$work/names"
[ "$(cat "$work/names")" = "a.txt .hidden a.dll b.dll " ] || fail "folder entries: $(cat "$work/names")"
mkdir -p "$work/folder/sub"
expect_code 1 "folder with a subfolder" "$tool" pack -o "$work/bad.bin" --key $key "$work/folder"
grep -qF "$work/folder: holds the folder \"sub\"" "$work/err" || fail "subfolder message: $(cat "$work/err")"
mkdir -p "$work/empty"
expect_code 1 "empty folder" "$tool" pack -o "$work/bad.bin" --key $key "$work/in/a.txt" "$work/empty"
grep -qF "$work/empty: is an empty folder" "$work/err" || fail "empty folder message: $(cat "$work/err")"
expect_code 1 "ENTRY=FOLDER" "$tool" pack -o "$work/bad.bin" --key $key "Quentar.exe=$work/empty"
grep -qF "$work/empty: is a folder; ENTRY=FILE names one file" "$work/err" || fail "ENTRY=FOLDER message: $(cat "$work/err")"
rmdir "$work/folder/sub"; printf x >"$work/folder/aux.txt"
expect_code 1 "folder with a device name" "$tool" pack -o "$work/bad.bin" --key $key "$work/folder"
grep -qF "$work/folder/aux.txt: entry name \"aux.txt\" is a device name" "$work/err" || fail "folder device name: $(cat "$work/err")"
[ -e "$work/bad.bin" ] && fail "a refused pack left an archive"

# Archives the tool will not pack, built by hand: handmade OUT NAME=DATA...
# (NAME may hold \x escapes).
handmade() {
    python3 - "$@" <<'PY'
import struct, sys
def rc4(key, data):
    s = list(range(256)); j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 255; s[i], s[j] = s[j], s[i]
    i = j = 0; out = bytearray()
    for b in data:
        i = (i + 1) & 255; j = (j + s[i]) & 255; s[i], s[j] = s[j], s[i]
        out.append(b ^ s[(s[i] + s[j]) & 255])
    return bytes(out)
def entry(name, data):
    h = bytearray(592)
    struct.pack_into('<I', h, 0, 0x20)
    struct.pack_into('<II', h, 28, 1 + len(data), len(data))
    n = name.encode('utf-16-le', 'surrogatepass'); h[44:44 + len(n)] = n
    return bytes(h) + bytes([len(data)]) + data
key = bytes(range(16))
items = [a.split('=', 1) for a in sys.argv[2:]]
plain = struct.pack('<I', len(items)) + b''.join(
    entry(n.encode().decode('unicode_escape'), d.encode()) for n, d in items)
open(sys.argv[1], 'wb').write(key + rc4(key, plain))
PY
}

# An archive whose entry names a path, a device or a name twice is refused
# before anything is written.
check_refused_archive() {  # description expected-message entries...
    what=$1; message=$2; shift 2
    rm -rf "$work/y"
    handmade "$work/bad-names.bin" "$@"
    expect_code 1 "$what" "$tool" extract "$work/bad-names.bin" -C "$work/y"
    grep -qF "$message" "$work/err" || fail "$what: $(cat "$work/err")"
    [ -e "$work/y" ] && fail "$what: extract wrote something"
}
check_refused_archive "extract of a path name" 'entry 1 ("../evil.txt"): name contains a path separator' \
    fine.txt=ok ../evil.txt=x
check_refused_archive "extract of a device name" 'entry 0 ("CON"): name is a device name' CON=x fine.txt=ok
check_refused_archive "extract of nul.txt" 'entry 1 ("nul.txt"): name is a device name' fine.txt=ok nul.txt=x
check_refused_archive "extract of a trailing dot" 'entry 0 ("readme."): name ends with a dot' readme.=x
check_refused_archive "extract of one name twice" 'entry 1 ("README.TXT"): same file name as entry 0' \
    readme.txt=a README.TXT=b

# list shows names that would act on a terminal as escapes, not raw.
handmade "$work/escape.bin" 'red\x1b[31m.txt=x' 'rev\u202etxt.exe=y' 'tab\there=z'
expect_code 0 "list of escape names" "$tool" list "$work/escape.bin"
grep -qF 'red\x1B[31m.txt	1	' "$work/out" || fail "escape byte not shown escaped: $(cat -v "$work/out")"
grep -qF 'rev\u{202E}txt.exe	1	' "$work/out" || fail "bidi override not shown escaped: $(cat -v "$work/out")"
grep -qF 'tab\there	1	' "$work/out" || fail "tab in a name not shown escaped: $(cat -v "$work/out")"
if LC_ALL=C grep -q "$(printf '\033')" "$work/out"; then fail "list printed a raw escape byte"; fi
[ "$(wc -l <"$work/out")" = 3 ] || fail "escape names split lines: $(cat -v "$work/out")"

# Malformed archives: one line naming the fault, exit 1, nothing written.
size=$(wc -c <"$work/one.bin")
head -c $((size - 1)) "$work/one.bin" >"$work/cut.bin"
expect_code 1 "cut archive" "$tool" extract "$work/cut.bin" -C "$work/z"
[ "$(wc -l <"$work/err")" = 1 ] || fail "malformed archive message is not one line: $(cat "$work/err")"
grep -q 'entry 3 ("Quentar.exe"): compressed data runs past the end' "$work/err" || fail "cut archive message: $(cat "$work/err")"
[ -e "$work/z" ] && fail "extract of a malformed archive wrote something"
# Flip a bit of the first control byte of the first entry.
python3 -c "
import sys; b = bytearray(open(sys.argv[1], 'rb').read()); b[16 + 4 + 592] ^= 0x40; open(sys.argv[2], 'wb').write(b)" \
    "$work/one.bin" "$work/flip.bin"
expect_code 1 "corrupted data" "$tool" list "$work/flip.bin"
grep -q 'entry 0 ("a.txt")' "$work/err" || fail "corrupted data message: $(cat "$work/err")"
expect_code 1 "too short" "$tool" list "$work/in/a.txt"
# Bytes after the last entry belong to nothing: refused.
{ cat "$work/one.bin"; printf 'x'; } >"$work/tail.bin"
expect_code 1 "trailing byte" "$tool" list "$work/tail.bin"
grep -q '1 byte follows the last entry' "$work/err" || fail "trailing byte message: $(cat "$work/err")"
expect_code 1 "trailing byte, extract" "$tool" extract "$work/tail.bin" -C "$work/t"
[ -e "$work/t" ] && fail "extract of an archive with trailing bytes wrote something"

# check: the role of every entry of a payload to ship (the application's file
# version after it, empty when it has none: this one is text); an archive
# with an entry the program never installs or runs, or without the
# application, is refused naming what is wrong.
"$tool" pack -o "$work/ship.bin" --key $key QUENTAR.EXE="$work/in/text.txt" help.pdf="$work/in/a.txt" \
    AxisAACDecoderSetup.msi="$work/in/empty.bin" AV2000SDK.dll="$work/in/random.bin" || fail "pack to ship"
expect_code 0 "check" "$tool" check "$work/ship.bin"
printf 'application\tQUENTAR.EXE\t\ncompanion\thelp.pdf\naxis\tAxisAACDecoderSetup.msi\narecont\tAV2000SDK.dll\n' \
    >"$work/roles"
cmp -s "$work/out" "$work/roles" || fail "check: $(cat "$work/out")"
known="it installs Quentar.exe, AV2000SDK.dll, help.pdf, repo.jpg, zorbel.dll, zorbelreg.exe and runs"
known="$known AXISMediaControlSDK_redist.exe, AxisAACDecoderSetup.msi, AxisH264DecoderSetup.msi, AxisMPEG4DecoderSetup.msi"
"$tool" pack -o "$work/extra.bin" --key $key Quentar.exe="$work/in/text.txt" msxml3.dll="$work/in/a.txt" || fail "pack extra"
expect_code 1 "check with an entry without a role" "$tool" check "$work/extra.bin"
[ "$(cat "$work/err")" = "setup-payload: $work/extra.bin: entry \"msxml3.dll\" is never installed or run by Setup.exe; $known" ] ||
    fail "entry without a role: $(cat "$work/err")"
"$tool" pack -o "$work/noapp.bin" --key $key help.pdf="$work/in/a.txt" || fail "pack without the application"
expect_code 1 "check without the application" "$tool" check "$work/noapp.bin"
[ "$(cat "$work/err")" = "setup-payload: $work/noapp.bin: no entry \"Quentar.exe\": Setup.exe installs nothing without the application" ] ||
    fail "without the application: $(cat "$work/err")"
expect_code 2 "check takes no --sha256" "$tool" check --sha256 "$work/ship.bin"

# Usage errors exit 2.
expect_code 2 "no command" "$tool"
expect_code 2 "unknown command" "$tool" unpack x
expect_code 2 "bad key" "$tool" pack -o "$work/k.bin" --key 00ff "$work/in/a.txt"
expect_code 2 "bad epoch" "$tool" pack -o "$work/k.bin" --epoch -5 "$work/in/a.txt"
expect_code 2 "no output" "$tool" pack "$work/in/a.txt"
expect_code 2 "extract without folder" "$tool" extract "$work/one.bin"
expect_code 2 "list of two files" "$tool" list "$work/one.bin" "$work/two.bin"

if [ $failures -ne 0 ]; then echo "$failures check(s) failed" >&2; exit 1; fi
echo "all setup-payload checks passed"
