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
          osslsigncode openssl)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

# clang-tidy parses with clang's own headers, in the libclang-common-<N>-dev of the clang-tidy-<N>
# that the release's "clang-tidy" depends on (14 on Debian 12, 19 on Debian 13).
clang_tidy_major() {
  local path
  path=$(readlink -f "$(command -v clang-tidy 2>/dev/null)" 2>/dev/null) || path=
  if [[ $path =~ /llvm-([0-9]+)/ ]]; then echo "${BASH_REMATCH[1]}"; return 0; fi
  apt-cache depends clang-tidy 2>/dev/null | sed -n 's/^ *Depends: clang-tidy-\([0-9][0-9]*\)$/\1/p' | sort -n | tail -n 1
}

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
major=$(clang_tidy_major)
if [ -z "$major" ] || ! installed "libclang-common-$major-dev"; then missing+=(libclang-common); fi

# Another apt or dpkg run may hold the lock for a while: wait for it rather than fail.
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }

if [ ${#missing[@]} -gt 0 ]; then
  need_root
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt_get update -q
  major=$(clang_tidy_major)
  [ -n "$major" ] || { echo "setup: this release offers no clang-tidy-<N> package" >&2; exit 1; }
  missing=("${missing[@]/#libclang-common/libclang-common-$major-dev}")
  apt_get install -y -q --no-install-recommends "${missing[@]}"
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
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -e "$binfmt/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' > "$binfmt/register"
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 || { echo "setup: 32-bit Wine cannot run on this machine" >&2; exit 1; }
fi
