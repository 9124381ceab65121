#!/usr/bin/env bash
# Installs what building and running the module needs on a Debian 12 machine.
# Safe to run again: it only installs what is missing.
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "setup: run as root (or through sudo)" >&2; exit 1; fi; }

packages=(cmake make python3 git
          wine wine32:i386 wine64 wine32-preloader:i386
          g++-mingw-w64-i686-posix binutils-mingw-w64-i686
          xvfb xauth imagemagick googletest fp-utils locales
          qemu-user-static
          cppcheck clang-tidy libclang-common-14-dev
          osslsigncode openssl)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  need_root
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
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
