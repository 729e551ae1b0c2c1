#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only what is missing:
# the i386 architecture (32-bit Wine), mingw-w64, Wine, Xvfb, CMake,
# GoogleTest, Google Benchmark, clang with libFuzzer, and the tools the
# sample payload and screenshots use, the signing tool of make setup and the
# installer compiler the benchmark compares with; on a kernel without 32-bit
# support, qemu's i386 emulation for Wine. Idempotent; fast when all is there.
#   scripts/install-deps.sh --print-backports-source
# prints the package source of the backports line that it would add for that
# emulation (taken from the machine's own Debian source), and does nothing else.
set -euo pipefail

apt_etc=${APT_ETC:-/etc/apt}
os_release=${OS_RELEASE:-/etc/os-release}

# The release's backports line, from the mirror and signing key of the Debian
# source this machine already uses for its release (deb822 .sources files,
# or one-line .list files), so that it works behind whatever mirror the
# machine is given: a deb822 stanza on standard output.
backports_source() {
  local codename uri="" key=""
  codename=$(. "$os_release" && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { echo "install-deps: no VERSION_CODENAME in $os_release" >&2; return 1; }
  local sources=()
  for f in "$apt_etc"/sources.list.d/*.sources; do [ -f "$f" ] && sources+=("$f"); done
  if [ ${#sources[@]} != 0 ]; then
    # The first stanza of type deb whose suites hold the release itself.
    read -r uri key < <(awk -v release="$codename" '
      function flush() {
        if (!found && deb && has_release && uri != "") { print uri, key; found = 1 }
        deb = 0; has_release = 0; uri = ""; key = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      {
        field = tolower($1)
        if (field == "types:") { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
        else if (field == "suites:") { for (i = 2; i <= NF; i++) if ($i == release) has_release = 1 }
        else if (field == "uris:") uri = $2
        # A key written out in the field itself spans lines: none is copied.
        else if (field == "signed-by:") key = ($2 ~ /^-----BEGIN/) ? "" : $2
      }
      END { flush() }' "${sources[@]}") || true
  fi
  if [ -z "$uri" ]; then
    local lists=()
    for f in "$apt_etc"/sources.list "$apt_etc"/sources.list.d/*.list; do [ -f "$f" ] && lists+=("$f"); done
    if [ ${#lists[@]} != 0 ]; then
      # deb [options] URI suite components...
      read -r uri key < <(awk -v release="$codename" '
        $1 != "deb" { next }
        {
          key = ""; i = 2
          if ($2 ~ /^\[/) {
            for (; i <= NF; i++) {
              if ($i ~ /^\[?signed-by=/) { key = $i; sub(/^\[?signed-by=/, "", key); sub(/\]$/, "", key) }
              if ($i ~ /\]$/) { i++; break }
            }
          }
          if ($(i + 1) == release) { print $i, key; exit }
        }' "${lists[@]}") || true
    fi
  fi
  [ -n "$uri" ] || { echo "install-deps: no Debian source for $codename in $apt_etc" >&2; return 1; }
  printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\n' "$uri" "$codename"
  if [ -n "$key" ]; then printf 'Signed-By: %s\n' "$key"; fi
}

if [ "${1:-}" = --print-backports-source ]; then
  backports_source
  exit
fi

packages=(
  build-essential cmake python3 git ca-certificates
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 wine64 xvfb x11-utils imagemagick
  googletest libgtest-dev libbenchmark-dev libssl-dev liblz4-dev
  clang libclang-rt-14-dev
  wixl msitools
  openssl osslsigncode nsis
)

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

need_arch=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then need_arch=1; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

export DEBIAN_FRONTEND=noninteractive
if [ "$need_arch" = 1 ] || [ ${#missing[@]} != 0 ]; then
  echo "install-deps: installing ${missing[*]:-(i386 architecture)}" >&2
  if [ "$need_arch" = 1 ]; then "${sudo_cmd[@]}" dpkg --add-architecture i386; fi
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi

# Wine's 32-bit loader, and with it every Windows test, is a 32-bit x86
# program. Some virtual machines run a kernel that cannot start one ("Exec
# format error"); there 32-bit programs run through qemu's user-mode
# emulation of i386, registered with the kernel's binfmt_misc, so that Wine
# starts them as usual. Debian 12's own qemu (7.2) ignores
# MAP_FIXED_NOREPLACE, on which Wine's reservation of its address space
# relies, and Wine then stops at start; the backported qemu honours it.
i386_probe=$(mktemp)
trap 'rm -f "$i386_probe"' EXIT
# The smallest static i386 program: exit(7).
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\007\000\000\000\315\200' >"$i386_probe"
chmod +x "$i386_probe"
runs_i386() { local rc=0; "$i386_probe" 2>/dev/null || rc=$?; [ "$rc" = 7 ]; }

if ! runs_i386; then
  emulator=/usr/bin/qemu-i386
  if ! "$emulator" --version 2>/dev/null | grep -qE 'version ([89]|[1-9][0-9])\.'; then
    echo "install-deps: this kernel cannot run 32-bit programs; installing qemu's i386 emulation" >&2
    codename=$(. "$os_release" && echo "${VERSION_CODENAME:-}")
    # A backports line the machine already has is used as it is.
    if ! grep -rqsw -- "$codename-backports" "$apt_etc"/sources.list "$apt_etc"/sources.list.d/*.list \
         "$apt_etc"/sources.list.d/*.sources; then
      source_text=$(backports_source)
      printf '%s\n' "$source_text" | "${sudo_cmd[@]}" tee "$apt_etc/sources.list.d/$codename-backports.sources" >/dev/null
      "${sudo_cmd[@]}" apt-get update -q
    fi
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends -t "$codename-backports" qemu-user
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  if [ ! -e "$binfmt/register" ]; then "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"; fi
  # An older registration of the name (another emulator, or disabled) goes.
  if [ -e "$binfmt/qemu-i386" ]; then echo -1 | "${sudo_cmd[@]}" tee "$binfmt/qemu-i386" >/dev/null; fi
  # ELF, 32-bit, little-endian, executable or shared object, machine i386;
  # F: the emulator is opened now, so it serves every mount namespace.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$emulator"':FOC' |
    "${sudo_cmd[@]}" tee "$binfmt/register" >/dev/null
  if ! runs_i386; then
    echo "install-deps: 32-bit programs still cannot run here, so Wine cannot either" >&2
    exit 1
  fi
  echo "install-deps: 32-bit programs run through $emulator" >&2
fi
