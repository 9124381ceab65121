#!/usr/bin/env bash
# Builds the release package from this tree: dist/OrvlHook-<version>-win32.zip with OrvlHook.dll,
# Orvella.chm, README.txt and SHA256SUMS. <version> is the DLL's own file version.
# Usage: scripts/package.sh [--allow-dirty]
#   --allow-dirty  package a tree with uncommitted changes; the name then ends in -dirty-win32.zip
# Environment:
#   ORVL_SIGN_PKCS12         PKCS#12 file (.p12/.pfx) with the certificate and key to sign the DLL
#   ORVL_SIGN_PASSWORD       its password; both or neither (then the package is unsigned)
#   ORVL_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server for the signature (optional)
#   ORVL_SIGN_CA_FILE        certificates (PEM) to verify the signature against (default: those
#                            in the PKCS#12 file)
#   SOURCE_DATE_EPOCH        the time stamp of every file (default: the commit's time)
# The same commit gives the same bytes wherever and whenever it is built (signed packages
# excepted: a signature carries the time it was made). Exits non-zero if anything fails; dist/
# never holds a half-written package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
say() { echo "package: $*" >&2; }
fail() { say "$*"; exit 1; }

allow_dirty=0
for arg in "$@"; do
  case $arg in
    --allow-dirty) allow_dirty=1 ;;
    -h|--help) sed -n '2,15s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) say "unknown argument $arg (see --help)"; exit 2 ;;
  esac
done

# Nothing here may depend on who runs it, where or when.
export LC_ALL=C TZ=UTC
umask 022

need() { command -v "$1" >/dev/null 2>&1 || fail "$1 is missing${2:+ ($2)}; scripts/setup.sh installs it"; }
need git; need cmake; need python3; need sha256sum
need chmcmd "Debian package fp-utils"; need i686-w64-mingw32-g++-posix "Debian package g++-mingw-w64-i686-posix"
need i686-w64-mingw32-objdump "Debian package binutils-mingw-w64-i686"

git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1 || fail "$root is not a git work tree"
commit=$(git -C "$root" rev-parse HEAD) || fail "the tree has no commit"
# Untracked files count too: the build picks up new sources by pattern.
changes=$(git -C "$root" status --porcelain --untracked-files=normal)
dirty=
if [ -n "$changes" ]; then
  if [ $allow_dirty = 0 ]; then
    say "the tree has uncommitted changes; commit them, or pass --allow-dirty for a package named so:"
    echo "$changes" | head -20 | sed 's/^/package:   /' >&2
    exit 1
  fi
  dirty=-dirty
  say "packaging a tree with uncommitted changes (--allow-dirty)"
fi

if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH is not a number of seconds: $SOURCE_DATE_EPOCH"
else
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct HEAD)
fi
export SOURCE_DATE_EPOCH

# ---- Signing inputs, checked before anything is built --------------------------------------------
sign=0
if [ -n "${ORVL_SIGN_PKCS12:-}" ] || [ -n "${ORVL_SIGN_PASSWORD+set}" ]; then
  [ -n "${ORVL_SIGN_PKCS12:-}" ] || fail "ORVL_SIGN_PASSWORD is set but ORVL_SIGN_PKCS12 (the certificate file) is not"
  [ -n "${ORVL_SIGN_PASSWORD+set}" ] || fail "ORVL_SIGN_PKCS12 is set but ORVL_SIGN_PASSWORD is not (set it empty for a certificate without one)"
  need osslsigncode; need openssl
  [ -f "$ORVL_SIGN_PKCS12" ] || fail "the certificate $ORVL_SIGN_PKCS12 does not exist"
  [ -r "$ORVL_SIGN_PKCS12" ] || fail "the certificate $ORVL_SIGN_PKCS12 cannot be read (permissions)"
  export ORVL_SIGN_PASSWORD
  # pkcs12_out <openssl pkcs12 options>: the file's contents as PEM; PKCS#12 files of older tools
  # need OpenSSL's legacy ciphers.
  pkcs12_out() {
    openssl pkcs12 -in "$ORVL_SIGN_PKCS12" -passin env:ORVL_SIGN_PASSWORD "$@" 2>/dev/null \
      || openssl pkcs12 -legacy -in "$ORVL_SIGN_PKCS12" -passin env:ORVL_SIGN_PASSWORD "$@" 2>/dev/null
  }
  if ! pkcs12_out -noout; then
    if openssl asn1parse -inform DER -in "$ORVL_SIGN_PKCS12" >/dev/null 2>&1; then
      fail "the certificate $ORVL_SIGN_PKCS12 cannot be opened: wrong password (ORVL_SIGN_PASSWORD)"
    fi
    fail "the certificate $ORVL_SIGN_PKCS12 is not a PKCS#12 file"
  fi
  pkcs12_out -nocerts -nodes | grep -q 'PRIVATE KEY' || fail "$ORVL_SIGN_PKCS12 holds no private key"
  signer=$(pkcs12_out -nokeys -clcerts | openssl x509 -noout -subject -nameopt oneline 2>/dev/null) \
    || fail "$ORVL_SIGN_PKCS12 holds no certificate"
  signer=${signer#subject=}
  signer=${signer# }
  sign=1
fi

# ---- Build, in a fresh folder ----------------------------------------------------------------------
# ORVL_PACKAGE_TMPDIR chooses the folder that holds the work folder (tests/package_test.sh).
work=$(mktemp -d "${ORVL_PACKAGE_TMPDIR:-${TMPDIR:-/tmp}}/orvl-package.XXXXXX")
partial=
cleanup() { rm -rf "$work"; [ -z "$partial" ] || rm -f "$partial"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

build=$work/build
say "building commit ${commit:0:12} (time stamps: $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; fail "configuring failed"; }
cmake --build "$build" -j"$(nproc)" --target OrvlHook orvella_help >"$work/build.log" 2>&1 \
  || { cat "$work/build.log" >&2; fail "building failed"; }
if grep -i 'warning' "$work/build.log" >&2; then fail "the build gave warnings (above)"; fi

stage=$work/stage
mkdir "$stage"
cp "$build/bin/OrvlHook.dll" "$build/bin/Orvella.chm" "$stage/" || fail "the build left no OrvlHook.dll or Orvella.chm"
version=$(python3 "$root/scripts/package_files.py" version "$stage/OrvlHook.dll") || fail "cannot read the DLL's version"
[[ $version =~ ^[0-9]+(\.[0-9]+){3}$ ]] || fail "odd version in the DLL: $version"
name=OrvlHook-$version$dirty-win32

# ---- Signature ---------------------------------------------------------------------------------------
if [ $sign = 1 ]; then
  mv "$stage/OrvlHook.dll" "$work/unsigned.dll"
  timestamp=()
  [ -z "${ORVL_SIGN_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$ORVL_SIGN_TIMESTAMP_URL")
  # The password goes through a file in the private work folder, not on a command line that
  # others can read.
  (umask 077 && printf '%s' "$ORVL_SIGN_PASSWORD" >"$work/password")
  osslsigncode sign -pkcs12 "$ORVL_SIGN_PKCS12" -readpass "$work/password" -h sha256 \
      -n "Orvella add-in user interface" -i "https://www.dorvane.example/orvella" "${timestamp[@]}" \
      -in "$work/unsigned.dll" -out "$stage/OrvlHook.dll" >"$work/sign.log" 2>&1 \
    || { cat "$work/sign.log" >&2; fail "signing failed"; }
  # A signature adds its certificate table and nothing else: removing it gives the built file back.
  osslsigncode remove-signature -in "$stage/OrvlHook.dll" -out "$work/stripped.dll" >/dev/null 2>&1 \
    && cmp -s "$work/stripped.dll" "$work/unsigned.dll" \
    || fail "the signed DLL differs from the built one in more than its signature"
  signature="signed with Authenticode (SHA-256) by $signer"
  [ -z "${ORVL_SIGN_TIMESTAMP_URL:-}" ] || signature="$signature, time-stamped by $ORVL_SIGN_TIMESTAMP_URL"
  say "OrvlHook.dll $signature"
else
  signature="NOT signed"
  say "no certificate given (ORVL_SIGN_PKCS12, ORVL_SIGN_PASSWORD): OrvlHook.dll is NOT signed"
fi

# ---- The binary's promises (docs/binary.md), checked on the DLL that ships ---------------------
audit=(--forbid "$root" --forbid "$work")
if [ $sign = 1 ]; then
  ca_file=${ORVL_SIGN_CA_FILE:-$work/signer-certificates.pem}
  [ -n "${ORVL_SIGN_CA_FILE:-}" ] || pkcs12_out -nokeys >"$ca_file" || fail "cannot read the certificates of $ORVL_SIGN_PKCS12"
  audit+=(--require-signature --ca-file "$ca_file")
fi
python3 "$root/scripts/audit-dll.py" "${audit[@]}" "$stage/OrvlHook.dll" >"$work/audit.log" 2>&1 \
  || { sed 's/^/package:   /' "$work/audit.log" >&2; fail "OrvlHook.dll fails the binary audit (above)"; }
say "OrvlHook.dll passes the binary audit ($(grep -c '^PASS' "$work/audit.log") rules)"

# ---- What the package says about itself ----------------------------------------------------------
built_from="commit $commit"
[ -z "$dirty" ] || built_from="$built_from with uncommitted changes"
# Windows line ends: the text is read on Windows.
sed 's/$/\r/' >"$stage/README.txt" <<EOF
Orvella add-in user interface $version for Windows (32-bit)

OrvlHook.dll  The add-in's user-interface module. The Orvella add-in host
              loads it into Windows Messenger, where it adds the "Orvella"
              menu with Settings, Help, the homepage and About.
              Authenticode: $signature.
Orvella.chm   The HTML Help file (English and Russian) that the menu's
              Help command opens.

Where they go: put both files side by side in the folder from which the
add-in host loads OrvlHook.dll. The module looks for Orvella.chm in its own
folder only; without it, Help cannot open.

Before you unpack: Windows marks a file downloaded from the Internet and
passes the mark on to the files unpacked from it, and the help viewer shows
no page of a marked help file ("Navigation to the webpage was canceled").
Open the Properties of the downloaded zip, choose "Unblock", press OK, and
then unpack it.

Keep OrvlHook.dll and Orvella.chm together on a local disk, not on a network
share or a mapped network drive: the help viewer shows no page of a help file
from there either.

SHA256SUMS lists the SHA-256 checksum of each file; check them with
"sha256sum -c SHA256SUMS".

Built from $built_from.
EOF

files=(OrvlHook.dll Orvella.chm README.txt)
(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS) || fail "cannot write SHA256SUMS"
files+=(SHA256SUMS)

# ---- The zip, moved into dist/ only when complete -------------------------------------------------
dist=$root/dist
mkdir -p "$dist" || fail "cannot make $dist"
zip=$dist/$name.zip
rm -f "$zip"
partial=$dist/.$name.zip.partial
rm -f "$partial"
python3 "$root/scripts/package_files.py" zip "$partial" "$SOURCE_DATE_EPOCH" "$stage" "${files[@]}" \
  || fail "cannot write the zip file"
mv "$partial" "$zip"
partial=
say "wrote $zip ($(stat -c %s "$zip") bytes)"
(cd "$stage" && sha256sum "${files[@]}") | sed 's/^/package:   /' >&2
say "SHA-256 of the zip: $(sha256sum "$zip" | cut -d' ' -f1)"
echo "$zip"
