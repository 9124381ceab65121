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
apt_options=(-o DPkg::Lock::Timeout=600)
apt_get() { apt-get "${apt_options[@]}" "$@"; }
work=
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


# The machine's package sources, one entry per address and suite, as $1/parts/healthy.sources
# and $1/healthy.list, less the pairs that an apt run's "Err:" lines in the
# file $2 name. The machine's own files are only read.
write_healthy_sources() {
  local folder=$1 failures=$2 parts=() file
  mkdir -p "$folder/parts"
  for file in /etc/apt/sources.list.d/*.sources; do [ -f "$file" ] && parts+=("$file"); done
  awk -v failures="$failures" '
    function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
    function bare(uri) { sub(/\/+$/, "", uri); return uri }
    # Failed when apt named this address with this suite, alone or as "suite/component".
    function failed(uri, suite,   i) {
      for (i = 1; i <= nfailed; i++)
        if (failedUri[i] == bare(uri) && (failedSuite[i] == suite || index(failedSuite[i], suite "/") == 1))
          return 1
      return 0
    }
    function flush(   u, s, nu, ns, us, ss, i) {
      if (enabled && uris != "" && suites != "") {
        nu = split(uris, us, /[ \t]+/); ns = split(suites, ss, /[ \t]+/)
        for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++) {
          if (failed(us[u], ss[s])) continue
          print "URIs: " us[u]; print "Suites: " ss[s]
          for (i = 0; i < n; i++) print lines[i]
          print ""
        }
      }
      n = 0; uris = ""; suites = ""; enabled = 1; key = ""
    }
    BEGIN {
      while ((getline line < failures) > 0)
        if (line ~ /^Err:[0-9]+ /) { split(line, f, " "); nfailed++; failedUri[nfailed] = bare(f[2]); failedSuite[nfailed] = f[3] }
      enabled = 1
    }
    /^#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]/ { if (key != "uris" && key != "suites") lines[n++] = $0; next }
    {
      key = tolower(trim(substr($0, 1, index($0, ":") - 1))); value = trim(substr($0, index($0, ":") + 1))
      if (key == "uris") uris = value
      else if (key == "suites") suites = value
      else if (key == "enabled" && tolower(value) == "no") enabled = 0
      else lines[n++] = $0
    }
    END { flush() }' "${parts[@]}" /dev/null >"$folder/parts/healthy.sources"
  parts=()
  [ -f /etc/apt/sources.list ] && parts+=(/etc/apt/sources.list)
  for file in /etc/apt/sources.list.d/*.list; do [ -f "$file" ] && parts+=("$file"); done
  awk -v failures="$failures" '
    function bare(uri) { sub(/\/+$/, "", uri); return uri }
    BEGIN { while ((getline line < failures) > 0)
              if (line ~ /^Err:[0-9]+ /) { split(line, f, " "); failed[bare(f[2]) " " f[3]] = 1; sub(/\/.*/, "", f[3]); failed[bare(f[2]) " " f[3]] = 1 } }
    /^[ \t]*(deb|deb-src)[ \t]/ {
      rest = $0; sub(/^[ \t]*(deb|deb-src)[ \t]+/, "", rest)
      if (rest ~ /^\[/) sub(/^\[[^]]*\][ \t]*/, "", rest)
      split(rest, f, /[ \t]+/)
      if (!((bare(f[1]) " " f[2]) in failed)) print
    }' "${parts[@]}" /dev/null >"$folder/healthy.list"
}

# Updates the package indexes. A source that cannot be fetched (a mirror mid-sync, a mirror that
# is down) is tried a few times; if it still fails, it is left out for this run only, and apt
# installs from the sources that did update.
update_package_indexes() {
  local attempt log
  work=$(mktemp -d)
  log=$work/update.log
  for attempt in 1 2 3; do
    if LC_ALL=C apt_get update -q 2>&1 | tee "$log"; [ "${PIPESTATUS[0]}" -eq 0 ]; then return 0; fi
    [ "$attempt" -lt 3 ] || break
    echo "setup: apt-get update failed (try $attempt of 3); trying again in 15 s" >&2
    sleep 15
  done
  if ! grep -q '^Err:[0-9]' "$log"; then
    echo "setup: apt-get update failed, and named no source that could be left out" >&2
    exit 1
  fi
  left_out=$(awk '/^Err:[0-9]+ / { source = $2 " " $3; getline reason; sub(/^[ \t]+/, "", reason); print "  " source ": " reason }' "$log" | sort -u)
  echo "setup: these sources could not be updated and are left out of this run:" >&2
  echo "$left_out" >&2
  write_healthy_sources "$work" "$log"
  apt_options+=(-o Dir::Etc::SourceParts="$work/parts" -o Dir::Etc::SourceList="$work/healthy.list")
  if ! LC_ALL=C apt_get update -q; then
    echo "setup: apt-get update failed even without the sources left out" >&2
    exit 1
  fi
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
  if ! apt_get install -y -q --no-install-recommends "${missing[@]}"; then
    echo "setup: could not install: ${missing[*]}" >&2
    [ -z "$left_out" ] || { echo "setup: left out of this run, as they could not be updated:" >&2; echo "$left_out" >&2; }
    exit 1
  fi
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
