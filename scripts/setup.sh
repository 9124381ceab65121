#!/usr/bin/env bash
# Installs what building and running the module needs on a Debian 12 or 13 machine.
# Safe to run again: it only installs what is missing.
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "setup: run as root (or through sudo)" >&2; exit 1; fi; }

packages=(cmake make python3 git
          wine wine32:i386 wine64 wine32-preloader:i386
          g++-mingw-w64-i686-posix binutils-mingw-w64-i686
          xvfb xauth imagemagick googletest fp-utils locales procps
          qemu-user-static fonts-wine
          cppcheck clang-tidy
          osslsigncode openssl python3-pefile)

# Another apt or dpkg run may hold the lock for a while: wait for it rather than fail.
# apt_options points apt at the healthy sources once a source has been left out for this run.
lock_option=(-o DPkg::Lock::Timeout=600)
apt_options=("${lock_option[@]}")
apt_get() { apt-get "${apt_options[@]}" "$@"; }
work=
# shellcheck source=scripts/apt-sources.sh
. "$(dirname "$0")/apt-sources.sh"
# shellcheck source=scripts/i386-emulator.sh
. "$(dirname "$0")/i386-emulator.sh"
trap '[ -z "$work" ] || rm -rf "$work"' EXIT

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

# clang-tidy parses with clang's own headers, in the libclang-common-<N>-dev of the clang-tidy-<N>
# that the release's "clang-tidy" depends on (14 on Debian 12, 19 on Debian 13).
clang_tidy_major() {
  local path
  path=$(readlink -f "$(command -v clang-tidy 2>/dev/null)" 2>/dev/null) || path=
  if [[ $path =~ /llvm-([0-9]+)/ ]]; then echo "${BASH_REMATCH[1]}"; return 0; fi
  apt-cache "${apt_options[@]}" depends clang-tidy 2>/dev/null | sed -n 's/^ *Depends: clang-tidy-\([0-9][0-9]*\)$/\1/p' | sort -n | tail -n 1
}

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
major=$(clang_tidy_major)
if [ -z "$major" ] || ! installed "libclang-common-$major-dev"; then missing+=(libclang-common); fi


# Updates the package indexes. A source that cannot be fetched (a mirror mid-sync, a mirror that
# is down: apt names it in an "Err:" line, and exits 0 for some of these) is tried a few times; if
# it still fails, it is left out for this run only: apt is pointed at a copy of the other entries,
# and the machine's own files stay as they are.
update_package_indexes() {
  local attempt status log
  [ -n "$work" ] || work=$(mktemp -d)
  log=$work/update.log
  for attempt in 1 2 3; do
    status=0
    LC_ALL=C apt_get update -q 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
    if [ "$status" -eq 0 ] && ! grep -q '^Err:[0-9]' "$log"; then return 0; fi
    [ "$attempt" -lt 3 ] || break
    echo "setup: apt-get update failed (try $attempt of 3); trying again in 10 s" >&2
    sleep 10
  done
  if ! grep -q '^Err:[0-9]' "$log"; then
    echo "setup: apt-get update failed, and named no source that could be left out" >&2
    exit 1
  fi
  cat "$log" >>"$work/failed.log"
  left_out=$(failed_sources "$work/failed.log")
  echo "setup: these sources could not be updated and are left out of this run:" >&2
  sed 's/^/  /' <<<"$left_out" >&2
  rm -rf "$work/parts"
  write_healthy_sources /etc/apt "$work/failed.log" "$work"
  apt_options=("${lock_option[@]}" -o Dir::Etc::SourceParts="$work/parts" -o Dir::Etc::SourceList="$work/healthy.list")
  status=0
  LC_ALL=C apt_get update -q 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ] || grep -q '^Err:[0-9]' "$log"; then
    echo "setup: apt-get update failed even without the sources left out" >&2
    exit 1
  fi
}

# Installs the missing packages. A package that cannot be downloaded (the mirror moved on since
# the indexes were fetched) is tried again once with fresh indexes.
install_missing() {
  local attempt status log=$work/install.log
  for attempt in 1 2; do
    status=0
    LC_ALL=C apt_get install -y -q --no-install-recommends "${missing[@]}" 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
    [ "$status" -ne 0 ] || return 0
    if [ "$attempt" -eq 2 ] || ! grep -q '^E: Unable to fetch some archives\|^E: Failed to fetch' "$log"; then break; fi
    echo "setup: some packages could not be downloaded; updating the indexes and trying again in 10 s" >&2
    sleep 10
    update_package_indexes
  done
  echo "setup: could not install: ${missing[*]}" >&2
  [ -z "$left_out" ] || { echo "setup: left out of this run, as they could not be updated:" >&2; sed 's/^/  /' <<<"$left_out" >&2; }
  exit 1
}

if [ ${#missing[@]} -gt 0 ]; then
  need_root
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  left_out=
  update_package_indexes
  major=$(clang_tidy_major)
  [ -n "$major" ] || { echo "setup: this release offers no clang-tidy-<N> package" >&2; exit 1; }
  missing=("${missing[@]/#libclang-common/libclang-common-$major-dev}")
  install_missing
fi

# Russian texts need a CP1251 ANSI code page in Wine, which follows the Unix locale.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  need_root
  sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# Some kernels (paravirtualised guests among them) cannot execute 32-bit x86 code.
# There the 32-bit Wine runs under QEMU's user-mode emulator, registered for i386 ELF files;
# the 64-bit wineserver still runs natively.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  need_root
  if [ ! -e "$i386_binfmt/qemu-i386" ]; then
    register_i386_emulator qemu-i386 /usr/bin/qemu-i386-static F
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 || { echo "setup: 32-bit Wine cannot run on this machine" >&2; exit 1; }
fi
