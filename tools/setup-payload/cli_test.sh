#!/bin/sh
# End-to-end checks of setup-payload: reproducible packs, list, extract,
# refused names, malformed archives and exit codes.
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
# Without --key a fresh random key is drawn each time.
"$tool" pack -o "$work/r1.bin" "$work/in/a.txt" && "$tool" pack -o "$work/r2.bin" "$work/in/a.txt" || fail "pack without key"
[ "$(head -c 16 "$work/r1.bin" | od -An -tx1)" != "$(head -c 16 "$work/r2.bin" | od -An -tx1)" ] || fail "random keys repeat"
[ "$(head -c 16 "$work/one.bin" | od -An -tx1 | tr -d ' \n')" = "$key" ] || fail "key not stored in plain"

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

# Refused entry names.
expect_code 1 "name with separator" "$tool" pack -o "$work/bad.bin" --key $key "sub/x=$work/in/a.txt"
expect_code 1 "name with drive colon" "$tool" pack -o "$work/bad.bin" --key $key "c:x=$work/in/a.txt"
expect_code 1 "name .." "$tool" pack -o "$work/bad.bin" --key $key "..=$work/in/a.txt"
long=$(printf '%0260d' 0)
expect_code 1 "name of 260 units" "$tool" pack -o "$work/bad.bin" --key $key "$long=$work/in/a.txt"
grep -q "259" "$work/err" || fail "long name error does not say the limit"
expect_code 1 "duplicate names" "$tool" pack -o "$work/bad.bin" --key $key "$work/in/a.txt" "A.TXT=$work/in/empty.bin"
expect_code 1 "missing file" "$tool" pack -o "$work/bad.bin" --key $key "$work/in/nothing"
[ -e "$work/bad.bin" ] && fail "a refused pack left an archive"

# An archive whose entry names a path is refused before anything is written
# (built by hand: the tool will not pack such a name).
if command -v python3 >/dev/null; then
    python3 - "$work/evil.bin" <<'PY'
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
    n = name.encode('utf-16-le'); h[44:44 + len(n)] = n
    return bytes(h) + bytes([len(data)]) + data
key = bytes(range(16))
plain = struct.pack('<I', 2) + entry('fine.txt', b'ok') + entry('../evil.txt', b'x')
open(sys.argv[1], 'wb').write(key + rc4(key, plain))
PY
    expect_code 1 "extract of a path name" "$tool" extract "$work/evil.bin" -C "$work/y"
    grep -q 'entry 1 ("../evil.txt"): name' "$work/err" || fail "path name error: $(cat "$work/err")"
    [ -e "$work/y/fine.txt" ] && fail "files were written before the bad name was found"
fi

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

# Usage errors exit 2.
expect_code 2 "no command" "$tool"
expect_code 2 "unknown command" "$tool" unpack x
expect_code 2 "bad key" "$tool" pack -o "$work/k.bin" --key 00ff "$work/in/a.txt"
expect_code 2 "bad epoch" "$tool" pack -o "$work/k.bin" --epoch -5 "$work/in/a.txt"
expect_code 2 "no output" "$tool" pack "$work/in/a.txt"
expect_code 2 "extract without folder" "$tool" extract "$work/one.bin"

if [ $failures -ne 0 ]; then echo "$failures check(s) failed" >&2; exit 1; fi
echo "all setup-payload checks passed"
