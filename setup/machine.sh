#!/usr/bin/env bash
# The machine's side of building and testing, kept apart from the builds
# themselves: Debian packages (the MinGW-w64 cross compiler, Wine with its
# 32-bit loader, Xvfb, clang, the signing tools, the benchmarks' delta
# tools), the zh_CN.UTF-8 locale, qemu for i386 programs where the kernel
# runs none, and the third-party libraries' Debian sources. Everything here
# may change the machine (apt sources, /etc/locale.gen, binfmt_misc); the
# builds never do.
#
#   setup/machine.sh check           prints what is missing; exit 1 when anything is
#   setup/machine.sh check builds    the same for what the builds alone need
#   setup/machine.sh install         installs what is missing (Debian, as root or sudo)
#
# THIRD_PARTY_SRC names where the third-party sources go (default:
# build/third_party/src of this checkout).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
THIRD_PARTY_SRC=${THIRD_PARTY_SRC:-$ROOT/build/third_party/src}

log() { printf '\033[1m== %s\033[0m\n' "$*" >&2; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

APT_PACKAGES=(
  cmake make g++ clang libclang-rt-14-dev googletest
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 wine32-preloader
  xvfb x11-apps x11-utils imagemagick
  osslsigncode openssl
  dpkg-dev
  bsdiff xdelta3 zstd xz-utils time python3
  locales fonts-wqy-microhei fonts-wqy-zenhei fonts-wine fonts-liberation
)

codename() { (. /etc/os-release && echo "${VERSION_CODENAME:-}"); }

# The machine's own apt source files, for deriving further entries from them.
apt_source_files() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && echo "$f"
  done
}
apt_release_uri() { # suite; prints the URI of the archive that serves it here
  local files
  mapfile -t files < <(apt_source_files)
  [ ${#files[@]} -gt 0 ] || return 1
  awk -v want="$1" -f "$HERE/apt_release_uri.awk" "${files[@]}"
}

# Wine's 32-bit loader is an i386 Linux program. Some kernels (virtual machines
# without 32-bit user mode) refuse those with "Exec format error"; there the
# loader runs under qemu's user-mode emulator, registered through binfmt_misc.
# qemu 7 (bookworm) corrupts multi-threaded Wine processes and structured
# exceptions, so the emulator comes from bookworm-backports (qemu 10).
i386_runs() { /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; }
qemu_recent() {
  qemu-i386-static --version 2>/dev/null | grep -qE 'version ([89]|[1-9][0-9])\.'
}
has_locale() { grep -qi '^zh_CN\.utf-\?8$' <<<"$(locale -a 2>/dev/null)"; }

# What the packages, the locale and the emulator should provide and do not,
# one line each: first what the builds need, then what running the tests,
# the demo and the benchmarks needs besides.
missing_for_builds() {
  command -v cmake >/dev/null || echo "CMake"
  command -v i686-w64-mingw32-g++-posix >/dev/null || echo "the MinGW-w64 cross compiler"
  command -v clang++ >/dev/null || echo "clang (the fuzzers)"
  [ -f /usr/src/googletest/CMakeLists.txt ] || echo "GoogleTest's sources"
  return 0
}
missing_for_runs() {
  command -v wine >/dev/null || echo "Wine"
  [ -f /usr/lib/wine/wine-preloader ] || echo "Wine's 32-bit loader"
  [ -e /usr/lib/wine/i386-windows ] || [ -e /usr/lib/i386-linux-gnu/wine ] ||
    echo "Wine's 32-bit libraries"
  command -v Xvfb >/dev/null || echo "Xvfb"
  [ -x /usr/bin/convert ] || echo "ImageMagick (the demo's screenshot)"
  command -v osslsigncode >/dev/null || echo "osslsigncode"
  command -v openssl >/dev/null || echo "openssl"
  command -v dpkg-source >/dev/null || echo "dpkg-dev"
  { command -v bsdiff >/dev/null && command -v xdelta3 >/dev/null && command -v zstd >/dev/null &&
    command -v xz >/dev/null && [ -x /usr/bin/time ]; } ||
    echo "the delta benchmark's tools (bsdiff, xdelta3, zstd, xz, time)"
  command -v python3 >/dev/null || echo "python3"
  has_locale || echo "the zh_CN.UTF-8 locale"
  grep -qi wenquanyi <<<"$(fc-list 2>/dev/null)" || echo "the WenQuanYi fonts"
  i386_runs || echo "a way to run i386 programs (Wine's loader)"
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && ! qemu_recent; then
    echo "qemu 8 or later for i386 programs"
  fi
  return 0
}
missing_packages() { missing_for_builds; missing_for_runs; }

# Third-party code: Debian source packages, unpacked into the build tree and
# compiled by cmake/ThirdParty.cmake with our toolchain and flags, the same
# sources for the host and Windows builds, so that both compress alike
# (Debian builds none of them for MinGW).
THIRD_PARTY=(libzstd:zstd xz-utils:xz libdivsufsort:libdivsufsort)
third_party_missing() {
  local entry
  for entry in "${THIRD_PARTY[@]}"; do
    [ -f "$THIRD_PARTY_SRC/${entry#*:}.version" ] || {
      echo "the zstd, xz and libdivsufsort sources in $THIRD_PARTY_SRC"
      return 0
    }
  done
}

# A mirror caught in the middle of a sync serves an index that does not match
# its Release file; apt-get update then fails for that index alone. It is
# tried again, and after that the indexes that did come are used.
APT_UPDATED=0
apt_update() {
  local attempt
  APT_UPDATED=1
  for attempt in 1 2 3; do
    $SUDO apt-get update -qq && return 0
    [ "$attempt" -lt 3 ] && sleep $((attempt * 10))
  done
  log "setup: some package indexes could not be fetched; going on with the others"
}
# Installs packages; when that fails, once more with the release's own
# versions. A missing i386 index of one suite (security updates, say) leaves
# the amd64 and i386 candidates of a multi-arch library at different
# versions, which apt refuses; the release's versions exist for both.
apt_install() { # [-t suite] packages...
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@" \
    >/dev/null && return 0
  [ "$1" != -t ] || return 1  # a suite was asked for: no other will do
  local release; release=$(codename)
  [ -n "$release" ] || return 1
  log "setup: installing again with the versions of $release itself"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    -t "$release" "$@" >/dev/null
}

install_recent_qemu() {
  qemu_recent && return 0
  local release uri; release=$(codename)
  if [ "$release" = bookworm ]; then
    if ! uri=$(apt_release_uri "$release"); then
      echo "no apt source for $release in /etc/apt; add the Debian archive for" \
        "$release there, then run setup again (qemu comes from $release-backports)" >&2
      return 1
    fi
    echo "deb $uri $release-backports main" |
      $SUDO tee /etc/apt/sources.list.d/bookworm-backports.list >/dev/null
    apt_update
    apt_install -t bookworm-backports qemu-user-static
  else
    apt_install qemu-user-static
  fi
}
register_i386_emulator() {
  # Natively running i386 programs need nothing; a registration we made
  # earlier is made again so that it picks up the current emulator.
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] || { i386_runs && return 0; }
  log "setup: this kernel does not run i386 programs; registering qemu-i386 for them"
  install_recent_qemu
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] &&
    echo -1 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  i386_runs || { echo "i386 programs still do not run; Wine cannot start" >&2; return 1; }
}

install_packages() {
  log "setup: installing Debian packages"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  apt_update
  apt_install "${APT_PACKAGES[@]}"
  if ! has_locale; then
    log "setup: generating the zh_CN.UTF-8 locale"
    $SUDO sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen ||
      echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
  register_i386_emulator
}

# apt-get source needs deb-src entries, and the machine's apt sources have
# only deb ones: one is derived for each suite of the release (security
# updates included, where a library's newest source may come from) from the archive the
# machine already uses for it.
add_source_entries() {
  local release; release=$(codename)
  local list="/etc/apt/sources.list.d/$release-sources.list"
  [ -n "$release" ] && [ ! -f "$list" ] || return 0
  local suite uri entries=""
  for suite in "$release" "$release-updates" "$release-security"; do
    uri=$(apt_release_uri "$suite") || continue
    entries+="deb-src $uri $suite main"$'\n'
  done
  if [ -z "$entries" ]; then
    echo "no apt source for $release in /etc/apt; add the Debian archive for $release" \
      "there, then run setup again (the third-party sources come from it)" >&2
    return 1
  fi
  printf '%s' "$entries" | $SUDO tee "$list" >/dev/null
}
fetch_source() { # source package, version, folder name
  local package=$1 version=$2 name=$3
  local download; download="$(dirname "$THIRD_PARTY_SRC")/download"
  rm -rf "$download" "${THIRD_PARTY_SRC:?}/$name" "$THIRD_PARTY_SRC/$name.version"
  mkdir -p "$download" "$THIRD_PARTY_SRC"
  # apt's unprivileged download user writes here when setup runs as root.
  chmod 0777 "$download"
  if ! (cd "$download" && apt-get source -qq --download-only "$package=$version" 2>/dev/null); then
    rm -rf "$download"
    return 1
  fi
  local dsc; dsc=$(ls "$download"/*.dsc)
  # apt checked the files against the archive's signed index; dpkg-source
  # applies Debian's patches.
  dpkg-source --no-check --no-copy -x "$dsc" "$THIRD_PARTY_SRC/$name" >/dev/null
  sed -n 's/^Version: //p' "$dsc" >"$THIRD_PARTY_SRC/$name.version"
  rm -rf "$download"
}
# The newest version of a source package that the archive serves. A fresh
# security upload's source can be in the index before it is in the pool
# (apt then gets 404s): the version before it is taken.
fetch_newest_source() { # source package, folder name
  local package=$1 name=$2 version
  for version in $(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' |
                   sort -V -r -u); do
    fetch_source "$package" "$version" "$name" && return 0
    log "setup: the archive does not serve $package $version; trying the version before it"
  done
  echo "apt has no source of $package: the machine's apt sources need its release's" \
    "deb-src entries (setup adds them from the deb ones)" >&2
  return 1
}
fetch_third_party() {
  log "setup: fetching the zstd, xz and libdivsufsort sources into $THIRD_PARTY_SRC"
  [ "$APT_UPDATED" = 1 ] || apt_update
  local entry
  for entry in "${THIRD_PARTY[@]}"; do
    [ -f "$THIRD_PARTY_SRC/${entry#*:}.version" ] ||
      fetch_newest_source "${entry%%:*}" "${entry#*:}" || return 1
  done
}

cmd_check() { # "builds" or "all"
  local missing
  if [ "$1" = builds ]; then
    missing=$(missing_for_builds; third_party_missing)
  else
    missing=$(missing_packages; third_party_missing)
  fi
  [ -n "$missing" ] || return 0
  printf '%s\n' "$missing"
  return 1
}

cmd_install() {
  local packages third_party
  packages=$(missing_packages)
  third_party=$(third_party_missing)
  if [ -z "$packages$third_party" ]; then
    log "setup: everything is installed"
    return 0
  fi
  # Before the first index update, so that one update serves both steps.
  add_source_entries
  [ -z "$packages" ] || install_packages
  [ -z "$(third_party_missing)" ] || fetch_third_party
  # Said, not fatal: the tests that need a missing part fail with their own
  # words, and the rest still run.
  local left; left=$(missing_packages; third_party_missing)
  if [ -n "$left" ]; then
    log "setup: still missing after installing:"
    sed 's/^/  /' <<<"$left" >&2
  fi
  return 0
}

case "${1:-install}" in
  check) cmd_check "${2:-all}" ;;
  install) cmd_install ;;
  *) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
