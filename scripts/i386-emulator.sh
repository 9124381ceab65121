# shellcheck shell=bash
# Sourced by setup.sh and test-on-debian.sh: the kernel's registration of QEMU's user-mode
# emulator for 32-bit x86 programs, on machines whose kernel cannot execute them itself.

i386_binfmt=/proc/sys/fs/binfmt_misc

# Registers an i386 ELF entry named $1 for the emulator at path $2, with binfmt flags $3.
# With F the kernel opens the emulator now; without it, when each program starts, as seen from
# that program's root: inside a system in a folder, that system's own emulator.
register_i386_emulator() {
  local name=$1 emulator=$2 flags=$3
  [ -e "$i386_binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$i386_binfmt" || return 1
  [ ! -e "$i386_binfmt/$name" ] || echo -1 >"$i386_binfmt/$name" || return 1
  printf '%s' ":$name:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$emulator:$flags" \
    >"$i386_binfmt/register"
}

# True when this machine runs i386 programs through the entry that set-up registers.
i386_emulated() { grep -qs '^enabled' "$i386_binfmt/qemu-i386"; }

unregister_i386_emulator() { [ ! -e "$i386_binfmt/$1" ] || echo -1 >"$i386_binfmt/$1"; }
