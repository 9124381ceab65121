#!/usr/bin/env bash
# Runs the README's test command on a fresh minimal Debian system of the given release, made in a
# folder on this machine: proves the tree on Debian 12 from a Debian 13 machine and the other way
# round. As root.
# Usage: scripts/test-on-debian.sh <12|13> [--demo] [--unreachable-source] [ctest arguments...]
#   --demo  then also runs the README's demo command (scripts/demo.sh --headless) there and copies
#           its screenshots out, to <ORVL_DEBIAN_DIR>/<codename>-demo-screenshots
#   --unreachable-source  adds a package source that refuses every connection (loopback port 9),
#           as a mirror that is down: set-up must leave it out and install from the others
#  1. A minimal system of that release (debootstrap --variant=minbase, git and ca-certificates
#     added) from Debian's own packages. The pristine system is kept as a tar file and unpacked
#     afresh for every run; it is made again when missing or older than a week. Each run's copy
#     gets the package sources that the release's installer writes: the release, its updates and
#     its security suite.
#  2. HEAD of this checkout is cloned into it (committed work only) and scripts/test.sh runs
#     inside as root, setting the system up from nothing: the run proves the set-up too.
#  3. CTest's summary is printed and the command exits with the run's status (124: time-out;
#     with --demo, non-zero also when the demo fails).
# /proc, /dev and /dev/pts are mounted in the system only for the run and unmounted on every way
# out (failure, Ctrl-C, time-out); the system's folder is removed only when nothing is mounted
# under it any more.
# Environment:
#   ORVL_DEBIAN_DIR      where systems, downloaded packages and logs are kept
#                        (default /var/cache/orvlhook-debian)
#   ORVL_DEBIAN_MIRROR   the Debian mirror (default http://deb.debian.org/debian)
#   ORVL_DEBIAN_SECURITY_MIRROR  its security suite (default http://deb.debian.org/debian-security)
#   ORVL_DEBIAN_TIMEOUT  seconds the run inside may take (default 2700)
#   ORVL_DEBIAN_KEEP=1   keep the system's folder after the run (unmounted), to look inside
set -uo pipefail
{ # the whole script is read before it runs: a checkout or edit meanwhile does not change a run
root=$(cd "$(dirname "$0")/.." && pwd)
say() { echo "test-on-debian: $*" >&2; }
# shellcheck source=scripts/i386-emulator.sh
. "$root/scripts/i386-emulator.sh"
usage() { sed -n '2,28s/^# \{0,1\}//p' "$0" >&2; exit 2; }

[ $# -ge 1 ] || usage
case $1 in
  12|bookworm) number=12 codename=bookworm ;;
  13|trixie)   number=13 codename=trixie ;;
  -h|--help)   usage ;;
  *) say "unknown release $1: 12 or 13"; exit 2 ;;
esac
shift
demo=0 unreachable=0
while [ $# -gt 0 ]; do
  case $1 in
    --demo) demo=1 ;;
    --unreachable-source) unreachable=1 ;;
    *) break ;;
  esac
  shift
done
[ "$(id -u)" -eq 0 ] || { say "run as root: making a system in a folder and chrooting into it need it"; exit 2; }

state=${ORVL_DEBIAN_DIR:-/var/cache/orvlhook-debian}
mirror=${ORVL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${ORVL_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
limit=${ORVL_DEBIAN_TIMEOUT:-2700}
[[ $limit =~ ^[0-9]+$ ]] || { say "ORVL_DEBIAN_TIMEOUT is not a number of seconds: $limit"; exit 2; }
mkdir -p "$state" && state=$(cd "$state" && pwd) || exit 2
base=$state/$codename-base.tar     # the pristine system
fresh=$state/$codename-base.new    # where it is made
sys=$state/$codename-run           # the system of this run
archives=$state/$codename-debs     # downloaded packages, verified again by apt on every run
log=$state/$codename-run.log
shots=$state/$codename-demo-screenshots
began=$SECONDS

commit=$(git -C "$root" rev-parse --verify -q HEAD) || { say "$root is not a git checkout with a commit"; exit 2; }
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  say "the tree has uncommitted changes: they are not part of this run, commit ${commit:0:12} is"
fi

# One run per release at a time on this machine.
exec 9>"$state/$codename.lock"
flock -w 3600 9 || { say "another run for Debian $number still holds $state/$codename.lock"; exit 2; }

if ! command -v debootstrap >/dev/null 2>&1; then
  say "installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends debootstrap >/dev/null \
    || { say "cannot install debootstrap"; exit 2; }
fi

# ---- Mounts, processes and folders -------------------------------------------------------------
mounts_under() {   # the mount points below folder $1, deepest first
  awk -v dir="$1/" 'index($2, dir) == 1 { print $2 }' /proc/mounts | awk '{ print length, $0 }' | sort -rn | cut -d' ' -f2-
}
processes_in() {   # processes whose root directory is folder $1
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$1" ] && echo "${p#/proc/}"
  done
}
stop_processes() {
  local dir=$1 pids _
  pids=$(processes_in "$dir")
  [ -n "$pids" ] || return 0
  # shellcheck disable=SC2086 # one word per process
  kill -TERM $pids 2>/dev/null
  for _ in $(seq 20); do
    pids=$(processes_in "$dir")
    [ -n "$pids" ] || return 0
    sleep 0.5
  done
  # shellcheck disable=SC2086
  kill -KILL $pids 2>/dev/null
  sleep 0.5
}
unmount_all() {    # every mount below folder $1; fails if one stays
  local dir=$1 point try
  for try in 1 2 3 4 5; do
    for point in $(mounts_under "$dir"); do umount "$point" 2>/dev/null; done
    [ -z "$(mounts_under "$dir")" ] && return 0
    stop_processes "$dir"
    sleep "$try"
  done
  say "still mounted (left in place): $(mounts_under "$dir" | tr '\n' ' ')"
  return 1
}
remove_tree() {    # removes folder $1, never while anything is mounted below it
  local dir=$1
  [ -e "$dir" ] || return 0
  if [ -n "$(mounts_under "$dir")" ]; then
    say "not removing $dir: still mounted there: $(mounts_under "$dir" | tr '\n' ' ')"
    return 1
  fi
  rm -rf --one-file-system "$dir"
}

runner=
own_emulator=
cleanup() {
  local rc=$? dir ok=1
  trap - EXIT INT TERM HUP
  [ -z "$runner" ] || kill -TERM "$runner" 2>/dev/null
  for dir in "$sys" "$fresh"; do
    [ -e "$dir" ] || continue
    stop_processes "$dir"
    unmount_all "$dir" || ok=0
  done
  [ -z "$own_emulator" ] || unregister_i386_emulator "$own_emulator" \
    || say "cannot remove the kernel's entry $i386_binfmt/$own_emulator"
  if [ $ok = 1 ]; then
    [ "${ORVL_DEBIAN_KEEP:-0}" = 1 ] || remove_tree "$sys" || ok=0
    remove_tree "$fresh" || ok=0
  fi
  [ $ok = 1 ] || { say "could not unmount everything (see above)"; [ $rc -ne 0 ] || rc=1; }
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# ---- 1. The pristine system ---------------------------------------------------------------------
if [ -f "$base" ] && [ -n "$(find "$base" -mtime -7)" ]; then
  say "Debian $number ($codename): the minimal system made $(date -u -r "$base" '+%Y-%m-%d %H:%M UTC')"
else
  say "Debian $number ($codename): making a minimal system from $mirror"
  remove_tree "$fresh" || exit 2
  t=$SECONDS
  debootstrap --variant=minbase --include=git,ca-certificates "$codename" "$fresh" "$mirror" \
      >"$state/$codename-debootstrap.log" 2>&1 \
    || { tail -20 "$state/$codename-debootstrap.log" >&2; say "debootstrap failed (whole log: $state/$codename-debootstrap.log)"; exit 2; }
  unmount_all "$fresh" || exit 2
  tar -C "$fresh" --numeric-owner -cf "$base.part" . && mv "$base.part" "$base" || { rm -f "$base.part"; say "cannot keep the system in $base"; exit 2; }
  remove_tree "$fresh" || exit 2
  say "made in $((SECONDS - t)) s"
fi

# ---- 2. A fresh copy with the tree in it -------------------------------------------------------
remove_tree "$sys" || exit 2
mkdir -p "$sys" "$archives/partial"
tar -C "$sys" --numeric-owner -xf "$base" || { say "cannot unpack $base"; exit 2; }
cp -L /etc/resolv.conf "$sys/etc/resolv.conf" 2>/dev/null || true
# The sources as the installer leaves them (debootstrap's has the release suite only), so that
# set-up meets the updates and security suites, whose indexes can lag behind or be mid-sync.
rm -f "$sys/etc/apt/sources.list"
cat >"$sys/etc/apt/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: $mirror
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
if [ $unreachable = 1 ]; then
  # Port 9 on loopback refuses at once, so each try fails without waiting.
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://127.0.0.1:9/debian $codename main" \
    >"$sys/etc/apt/sources.list.d/unreachable.list"
fi
git clone -q --no-hardlinks "$root" "$sys/root/OrvlHook" || { say "cannot clone $root"; exit 2; }
git -C "$sys/root/OrvlHook" checkout -q --detach "$commit" || { say "cannot check out $commit"; exit 2; }

mount -t proc proc "$sys/proc" \
  && mount --bind /dev "$sys/dev" \
  && mount --bind /dev/pts "$sys/dev/pts" \
  && mount --bind "$archives" "$sys/var/cache/apt/archives" \
  || { say "cannot mount /proc, /dev, /dev/pts and the package cache in $sys"; exit 2; }

# Where this machine runs 32-bit programs under QEMU's emulator, the system runs them under its
# own release's emulator, as set-up there registers it on such a machine: this machine's may not
# run that release's Wine (Debian 12's QEMU takes minutes to start Debian 13's Wine, crashing on
# the way). The entry goes before set-up's and has no F flag, so the kernel looks the emulator up
# as each program starts, from that program's root: inside, the one that set-up installs there;
# outside, this machine's own, as before. It is removed on every way out.
if i386_emulated; then
  own_emulator=orvlhook-$codename-i386
  register_i386_emulator "$own_emulator" /usr/bin/qemu-i386-static "" \
    || { say "cannot register Debian $number's own emulator for 32-bit programs"; exit 2; }
  say "32-bit programs there run under Debian $number's own QEMU emulator"
fi

# ---- 3. The README's test command inside -------------------------------------------------------
what="scripts/test.sh${*:+ $*}"
[ $demo = 0 ] || what="$what, then scripts/demo.sh --headless"
[ $unreachable = 0 ] || what="$what, with an unreachable package source"
say "Debian $number: $what on commit ${commit:0:12} (log: $log; at most $limit s)"
# In the background, so that a signal reaches this script's traps at once; they stop the run.
# shellcheck disable=SC2016 # expanded inside
inside='cd /root/OrvlHook || exit 2
rc=0
bash scripts/test.sh build "$@" || rc=$?
if [ "$DEMO" = 1 ]; then
  bash scripts/demo.sh --headless build || { echo "test-on-debian: the demo failed"; [ $rc -ne 0 ] || rc=1; }
fi
exit $rc'
: >"$log"   # there before the viewer below starts to follow it
timeout --kill-after=30 "$limit" \
  chroot "$sys" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TERM=dumb DEMO=$demo \
    bash -c "$inside" test-on-debian "$@" \
  >"$log" 2>&1 </dev/null &
runner=$!
tail -n +1 -f --pid="$runner" "$log" &
viewer=$!
rc=0
wait "$runner" || rc=$?
runner=
wait "$viewer" 2>/dev/null

echo
echo "==== Debian $number ($codename), commit ${commit:0:12}: CTest summary"
if grep -q '% tests passed' "$log"; then
  sed -n '/% tests passed/,$p' "$log" | grep -v '^Errors while running CTest' | head -60
else
  echo "(no CTest summary: the run stopped before the tests; its end follows)"
  tail -n 30 "$log"
fi
[ $rc -ne 124 ] || echo "(the run took longer than $limit s and was stopped)"
if [ $demo = 1 ]; then
  rm -rf "$shots"
  if [ -d "$sys/root/OrvlHook/build/demo-screenshots" ]; then
    cp -r "$sys/root/OrvlHook/build/demo-screenshots" "$shots"
    echo "demo: $(find "$shots" -name '*.png' | wc -l) screenshots in $shots"
  else
    echo "demo: no screenshots"
  fi
fi
echo "==== exit status $rc after $((SECONDS - began)) s"
exit $rc
}
