#!/usr/bin/env bash
# make setup: the Setup.exe to ship, from the release engineer's files,
# version and licence agreement. It goes to a folder of its own, which
# make run and make test never touch:
#   build/release/Setup.exe     the program to ship
#   build/release/payload.qpk   the archive it carries (resource RCDATA 101)
#   build/release/payload.txt   that archive's entries, read back from Setup.exe:
#                               name, size, compressed size, time, SHA-256
#   build/release/SHA256SUMS    of Setup.exe and payload.qpk
# Settings, from the environment (make hands on its command-line variables):
#   FILES    ;-separated [ENTRY=]FILE items or folders (required); relative
#            paths are taken from the top of this tree. Quentar.exe must be
#            among the entries, and every entry must be one the program
#            installs or runs (setup-payload check)
#   VERSION  the file version, four numbers of 0 to 65535; the file version
#            of the carried Quentar.exe when not given, and refused when it
#            differs from it: the program tells an installed Quentar from
#            this one by comparing the two
#   LICENSE  the licence agreement, an RTF file (default: the sample one)
#   KEY      the archive's key, 32 hexadecimal digits (default: derived from
#            the files when SOURCE_DATE_EPOCH is set, else random)
#   SOURCE_DATE_EPOCH  every time stored in the archive; with it the same
#            inputs give the same Setup.exe, byte for byte
#   SIGN_CERT  signs Setup.exe with Authenticode (SHA-256, osslsigncode): a
#            PEM or DER certificate (chain) with SIGN_KEY, its private key,
#            or a PKCS#12 file (.pfx, .p12) that holds both; SIGN_PASSWORD
#            unlocks an encrypted key or PKCS#12 file
# Every setting is checked before anything is built: a bad one stops the run
# with one line naming it and its value. Whatever fails, the release folder is
# left without a Setup.exe, so an earlier one is never taken for this one.
# For tests: SETUP_RELEASE_DIR and SETUP_RELEASE_TREE move the release folder
# and its build tree (build/win32-release); SETUP_PAYLOAD_TOOL names an
# archive tool to use instead of building it.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=${SETUP_RELEASE_DIR:-build/release}
tree=${SETUP_RELEASE_TREE:-build/win32-release}
[[ $tree == /* ]] || tree=$top/$tree
outputs=(Setup.exe payload.qpk payload.txt SHA256SUMS)

for name in "${outputs[@]}"; do rm -f "$out/$name"; done

refuse() { echo "make setup: $*" >&2; exit 2; }

# ---- Settings ---------------------------------------------------------------

# VERSION: each number is a 16-bit field of the version resource. A larger
# one would wrap there, and one with a leading zero would be read as octal,
# while the version text kept what was written. Without it, the version is
# the carried Quentar.exe's (below, once the files are packed).
version=${VERSION:-}
if [ -n "$version" ]; then
  [[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] ||
    refuse "VERSION=\"$version\": not four dot-separated numbers (like 5.2.0.1)"
  for part in "${BASH_REMATCH[@]:1}"; do
    if [ ${#part} -gt 5 ] || [ "$((10#$part))" -gt 65535 ]; then
      refuse "VERSION=\"$version\": $part is larger than 65535, the largest part of a file version"
    fi
    [[ $part != 0?* ]] || refuse "VERSION=\"$version\": $part has a leading zero, which the version resource reads as octal"
  done
fi

# LICENSE: the licence page shows an RTF document.
license=${LICENSE:-app/resources/license.rtf}
[[ $license == /* ]] || license=$top/$license
[ -e "$license" ] || refuse "LICENSE=\"${LICENSE:-}\": no such file"
[ ! -d "$license" ] || refuse "LICENSE=\"$LICENSE\": a folder, not the agreement's RTF file"
[ -f "$license" ] && [ -r "$license" ] || refuse "LICENSE=\"$LICENSE\": not a readable file"
[ "$(head -c 5 "$license")" = '{\rtf' ] ||
  refuse "LICENSE=\"$LICENSE\": not an RTF document (it does not begin with {\\rtf); save the agreement as RTF"

[[ -z ${KEY:-} || $KEY =~ ^[0-9a-fA-F]{32}$ ]] || refuse "KEY=\"$KEY\": not 32 hexadecimal digits"
[[ -z ${SOURCE_DATE_EPOCH:-} || $SOURCE_DATE_EPOCH =~ ^[0-9]{1,12}$ ]] ||
  refuse "SOURCE_DATE_EPOCH=\"$SOURCE_DATE_EPOCH\": not a number of seconds since 1970"

# SIGN_CERT, SIGN_KEY: readable, and the key is the certificate's. The
# signing time is SOURCE_DATE_EPOCH when set, so a signed build stays
# reproducible (the signature of the same bytes with the same key is the same).
sign=()
if [ -n "${SIGN_CERT:-}" ] || [ -n "${SIGN_KEY:-}" ]; then
  [ -n "${SIGN_CERT:-}" ] || refuse "SIGN_KEY=\"$SIGN_KEY\": no SIGN_CERT, the certificate to sign with"
  command -v osslsigncode >/dev/null || refuse "SIGN_CERT=\"$SIGN_CERT\": signing needs osslsigncode (apt-get install osslsigncode)"
  cert=$SIGN_CERT
  [[ $cert == /* ]] || cert=$top/$cert
  [ -f "$cert" ] && [ -r "$cert" ] || refuse "SIGN_CERT=\"$SIGN_CERT\": no such readable file"
  export SIGN_PASSWORD=${SIGN_PASSWORD:-}
  case "${cert,,}" in
    *.pfx | *.p12)
      [ -z "${SIGN_KEY:-}" ] || refuse "SIGN_KEY=\"$SIGN_KEY\": SIGN_CERT=\"$SIGN_CERT\" is a PKCS#12 file, which holds the key itself"
      openssl pkcs12 -in "$cert" -passin env:SIGN_PASSWORD -noout 2>/dev/null ||
        refuse "SIGN_CERT=\"$SIGN_CERT\": not a PKCS#12 file that SIGN_PASSWORD opens"
      sign=(-pkcs12 "$cert")
      ;;
    *)
      [ -n "${SIGN_KEY:-}" ] || refuse "SIGN_CERT=\"$SIGN_CERT\": a certificate without its key: give SIGN_KEY, or a .pfx/.p12 file that holds both"
      key=$SIGN_KEY
      [[ $key == /* ]] || key=$top/$key
      [ -f "$key" ] && [ -r "$key" ] || refuse "SIGN_KEY=\"$SIGN_KEY\": no such readable file"
      cert_public=$(openssl x509 -in "$cert" -noout -pubkey 2>/dev/null ||
                    openssl x509 -inform DER -in "$cert" -noout -pubkey 2>/dev/null) ||
        refuse "SIGN_CERT=\"$SIGN_CERT\": not a certificate (PEM or DER)"
      key_public=$(openssl pkey -in "$key" -passin env:SIGN_PASSWORD -pubout 2>/dev/null) ||
        refuse "SIGN_KEY=\"$SIGN_KEY\": not a private key that SIGN_PASSWORD opens (PEM or DER)"
      [ "$cert_public" = "$key_public" ] || refuse "SIGN_KEY=\"$SIGN_KEY\": not the key of SIGN_CERT=\"$SIGN_CERT\""
      sign=(-certs "$cert" -key "$key")
      ;;
  esac
  [ -z "${SOURCE_DATE_EPOCH:-}" ] || sign+=(-time "$SOURCE_DATE_EPOCH")
fi

# FILES: every item names something. An empty item (a doubled or trailing
# ";") is refused: taken as a path it would be the top of this tree.
[ -n "${FILES:-}" ] || refuse 'FILES is empty: name the files to carry, e.g. FILES="Quentar.exe=/rel/Quentar.exe;/rel/AV2000SDK.dll"'
items=()
rest=$FILES
while :; do
  item=${rest%%;*}
  [ -n "$item" ] || refuse "FILES=\"$FILES\": item $((${#items[@]} + 1)) is empty (a doubled or trailing ';')"
  entry= path=$item
  if [[ $item == *=* ]]; then entry=${item%%=*}= path=${item#*=}; fi
  [ -n "$path" ] || refuse "FILES item \"$item\": no file after the ENTRY= name"
  where=
  [[ $path == /* ]] || { path=$top/$path; where=" (looked for at $path)"; }
  [ -e "$path" ] || refuse "FILES item \"$item\": no such file or folder$where"
  items+=("$entry$path")
  [ "$rest" != "$item" ] || break
  rest=${rest#*;}
done

# ---- Packing: the archive tool checks names, folders and duplicates ----------

tool=${SETUP_PAYLOAD_TOOL:-}
if [ -z "$tool" ]; then
  scripts/build.sh tool
  tool=$top/build/native/tools/setup-payload/setup-payload
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pack=("$tool" pack -o "$work/payload.qpk")
[ -z "${KEY:-}" ] || pack+=(--key "$KEY")
if ! "${pack[@]}" -- "${items[@]}" 2>"$work/pack.err"; then
  refuse "FILES: $(sed -n 's/^setup-payload: //p' "$work/pack.err" | head -n 1)"
fi

# ---- What Setup.exe will do with it: the role of every entry -----------------

if ! "$tool" check "$work/payload.qpk" >"$work/roles" 2>"$work/check.err"; then
  refuse "FILES: $(sed -n "s|^setup-payload: $work/payload.qpk: ||p" "$work/check.err" | head -n 1)"
fi
# role<TAB>entry name[<TAB>file version of the application]
app_version=$(awk -F'\t' '$1 == "application" { print $3 }' "$work/roles")
[ -n "$app_version" ] ||
  refuse "FILES: Quentar.exe has no file version (no version resource); Setup.exe tells an installed Quentar from this one by it"
if [ -z "$version" ]; then
  version=$app_version
elif [ "$version" != "$app_version" ]; then
  refuse "VERSION=\"$version\" differs from the file version of the carried Quentar.exe, $app_version: leave VERSION out, or carry the Quentar.exe of $version"
fi
# The components the welcome page will offer, for the closing lines.
entries_of() { awk -F'\t' -v role="$1" '$1 == role { printf "%s%s", (n++ ? ", " : ""), $2 }' "$work/roles"; }
offers="Quentar $version ($(entries_of application)"
[ -z "$(entries_of companion)" ] || offers+=" with $(entries_of companion)"
offers+=")"
if [ -n "$(entries_of arecont)" ]; then offers+=", the Arecont Vision runtime ($(entries_of arecont))"
else offers+="; not the Arecont Vision runtime (no AV2000SDK.dll)"; fi
if [ -n "$(entries_of axis)" ]; then offers+=", the Axis runtime ($(entries_of axis))"
else offers+="; not the Axis runtime (no Axis package)"; fi

# ---- Setup.exe --------------------------------------------------------------

mkdir -p "$tree"
mv "$work/payload.qpk" "$tree/payload.qpk"
SETUP_VERSION=$version SETUP_LICENSE_FILE=$license SETUP_PAYLOAD_ARCHIVE=$tree/payload.qpk \
  SETUP_RELEASE_TREE=$tree SETUP_PAYLOAD_TOOL=$tool scripts/build.sh release

cp "$tree/payload.qpk" "$work/"
if [ ${#sign[@]} -gt 0 ]; then
  # A password goes through a file of this run's own, never the command line.
  if [ -n "$SIGN_PASSWORD" ]; then
    printf '%s' "$SIGN_PASSWORD" >"$work/password"
    sign+=(-readpass "$work/password")
  fi
  if ! osslsigncode sign "${sign[@]}" -h sha256 -n "Quentar Setup" \
       -in "$tree/Setup.exe" -out "$work/Setup.exe" >"$work/sign.log" 2>&1; then
    echo "make setup: signing $tree/Setup.exe failed: $(grep -v '^$' "$work/sign.log" | head -n 1)" >&2
    exit 1
  fi
  rm -f "$work/password"
else
  cp "$tree/Setup.exe" "$work/"
fi

# What the program to ship carries, read back out of it, must be the archive
# packed.
"$tool" list --sha256 "$tree/payload.qpk" >"$work/packed.txt"
"$tool" list --sha256 "$work/Setup.exe" >"$work/payload.txt"
if ! cmp -s "$work/packed.txt" "$work/payload.txt"; then
  echo "make setup: $tree/Setup.exe does not carry the archive just packed" >&2
  exit 1
fi

# Published together, Setup.exe last: it is there only when the rest is.
mkdir -p "$out"
(cd "$work" && sha256sum Setup.exe payload.qpk >SHA256SUMS)
for name in payload.qpk payload.txt SHA256SUMS Setup.exe; do mv "$work/$name" "$out/$name"; done
echo "Built $out/Setup.exe: version $version, $(wc -l <"$out/payload.txt") files; their list: $out/payload.txt"
echo "It offers $offers"
[ ${#sign[@]} -eq 0 ] || echo "Signed with $SIGN_CERT (Authenticode, SHA-256)"
