#!/usr/bin/env bash
# The test Package.release_zip (tests/CMakeLists.txt): scripts/package.sh as a release would use it.
# Usage: package_test.sh <source-dir> <build-dir>       (inside the test run's display and prefix)
#  1. Two copies of the tree's tracked files, each committed alone with HEAD's time: clean trees of
#     one commit, in folders of different names and depths.
#  2. Bad input, which must fail before anything is built and leave no package: a dirty tree, a
#     certificate that does not exist, one that is not PKCS#12, a wrong password.
#  3. The package built in both copies, at different times and in different time zones: the zips
#     must be byte for byte the same, hold the four files, match SHA256SUMS, carry the commit's
#     time and no scratch path.
#  4. Signed with a throwaway certificate (as a dirty tree, --allow-dirty): the signature verifies
#     against that certificate and not against another, and is all that differs from the unsigned
#     DLL. Both package DLLs, unsigned and signed, pass scripts/audit-dll.py.
#  5. The signed DLL injected into the Messenger stand-in by the host stand-in: the handshake is
#     answered and Messenger's menu bar gets the "Orvella" popup.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
scratch=$build/package-test
began=$SECONDS

say() { echo "package-test: $*"; }
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch/tmp"
# package.sh builds under here, so its paths are scratch paths too. Not TMPDIR: Wine 10 aborts when
# it sees that variable, and the same shell runs Wine below.
export ORVL_PACKAGE_TMPDIR=$scratch/tmp
unset ORVL_SIGN_PKCS12 ORVL_SIGN_PASSWORD ORVL_SIGN_TIMESTAMP_URL SOURCE_DATE_EPOCH

# ---- 1. Two clean trees of one commit --------------------------------------------------------------
commit_time=$(git -C "$source_dir" log -1 --format=%ct HEAD)
copy_tree() {
  local dest=$1
  mkdir -p "$dest"
  # Tracked files as they are on disk, so that uncommitted work is what gets tested.
  (cd "$source_dir" && git ls-files -z | tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$dest"
  git -C "$dest" -c init.defaultBranch=main init -q
  git -C "$dest" add -A
  GIT_AUTHOR_DATE="@$commit_time +0000" GIT_COMMITTER_DATE="@$commit_time +0000" \
    git -C "$dest" -c user.name=package-test -c user.email=package-test@localhost -c commit.gpgsign=false \
    commit -q --no-verify -m "package test"
}
tree_a=$scratch/a
tree_b=$scratch/second/tree-b
copy_tree "$tree_a"
copy_tree "$tree_b"
commit=$(git -C "$tree_a" rev-parse HEAD)
[ "$commit" = "$(git -C "$tree_b" rev-parse HEAD)" ] || fail "the two copies are not the same commit"

# The version as the resource script gives it, read independently of package.sh.
version=$(sed -n 's/^FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' "$source_dir/res/OrvlHook.rc")
[ -n "$version" ] || fail "no FILEVERSION in res/OrvlHook.rc"
name=OrvlHook-$version-win32.zip

# ---- 2. Bad input ------------------------------------------------------------------------------------
certs=$scratch/certs
mkdir -p "$certs"
make_cert() {   # make_cert <name> <password>: <name>.pem (certificate) and <name>.p12
  timeout 60 openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Orvella package test $1" \
    -keyout "$certs/$1.key" -out "$certs/$1.pem" 2>/dev/null || fail "openssl cannot make a certificate"
  timeout 60 openssl pkcs12 -export -inkey "$certs/$1.key" -in "$certs/$1.pem" -out "$certs/$1.p12" \
    -passout "pass:$2" || fail "openssl cannot make a PKCS#12 file"
}
password='throwaway pass'
make_cert signer "$password"
make_cert stranger other
echo "this is not a certificate" >"$certs/garbage.p12"

# expect_refusal <what> <message pattern> <env assignments...> -- <package.sh arguments...>
expect_refusal() {
  local what=$1 pattern=$2; shift 2
  local assignments=()
  while [ "$1" != -- ]; do assignments+=("$1"); shift; done
  shift
  local rc=0 started=$SECONDS
  env "${assignments[@]}" timeout 60 bash "$tree_b/scripts/package.sh" "$@" >"$scratch/refusal.log" 2>&1 || rc=$?
  [ $rc -ne 0 ] || { cat "$scratch/refusal.log"; fail "$what: package.sh succeeded"; }
  grep -Eq "$pattern" "$scratch/refusal.log" || { cat "$scratch/refusal.log"; fail "$what: no message matching '$pattern'"; }
  if [ -d "$tree_b/dist" ] && [ -n "$(ls -A "$tree_b/dist")" ]; then
    ls -la "$tree_b/dist"; fail "$what: something was left in dist/"
  fi
  [ $((SECONDS - started)) -le 5 ] || fail "$what: refused only after $((SECONDS - started)) s (it built first?)"
  say "refused: $what ($(tail -n 1 "$scratch/refusal.log" | sed 's/^package: //'))"
}
echo "local edit" >>"$tree_b/README.md"
expect_refusal "uncommitted changes" "uncommitted changes" --
git -C "$tree_b" checkout -q README.md
expect_refusal "a certificate that does not exist" "does not exist" \
  ORVL_SIGN_PKCS12="$certs/missing.p12" ORVL_SIGN_PASSWORD="$password" --
expect_refusal "a file that is not a certificate" "not a PKCS#12 file" \
  ORVL_SIGN_PKCS12="$certs/garbage.p12" ORVL_SIGN_PASSWORD="$password" --
expect_refusal "a wrong password" "wrong password" \
  ORVL_SIGN_PKCS12="$certs/signer.p12" ORVL_SIGN_PASSWORD="not the password" --
expect_refusal "a password without a certificate" "ORVL_SIGN_PKCS12" ORVL_SIGN_PASSWORD="$password" --
[ -z "$(git -C "$tree_b" status --porcelain)" ] || fail "the refusals changed the tree"

# ---- 3. Two builds, the same bytes ---------------------------------------------------------------------
package() {   # package <tree> <log> [env assignments...] -- [arguments...]: prints the zip's path
  local tree=$1 log=$2; shift 2
  local assignments=()
  while [ "$1" != -- ]; do assignments+=("$1"); shift; done
  shift
  env "${assignments[@]}" timeout 180 bash "$tree/scripts/package.sh" "$@" >"$log" 2>"$log.err" \
    || { cat "$log.err" >&2; fail "package.sh failed in $tree"; }
  tail -n 1 "$log"
}
zip_a=$(package "$tree_a" "$scratch/a.log" TZ=UTC --)
sleep 1   # a time stamp taken from the clock would now differ
zip_b=$(package "$tree_b" "$scratch/b.log" TZ=Pacific/Kiritimati LC_ALL=ru_RU.UTF-8 --)
[ "$zip_a" = "$tree_a/dist/$name" ] || fail "package A is $zip_a, not $tree_a/dist/$name"
[ "$zip_b" = "$tree_b/dist/$name" ] || fail "package B is $zip_b, not $tree_b/dist/$name"
grep -q "NOT signed" "$scratch/a.log.err" || fail "an unsigned package did not say so"

unpack() {   # unpack <zip> <folder>: checks the entries and SHA256SUMS
  rm -rf "$2"; mkdir -p "$2"
  local entries
  entries=$(python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1") \
    || fail "$1 is not a zip file"
  [ "$entries" = "Orvella.chm OrvlHook.dll README.txt SHA256SUMS" ] || fail "$1 holds: $entries"
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$1" "$2"
  [ "$(cut -d' ' -f3- "$2/SHA256SUMS" | tr '\n' ' ')" = "OrvlHook.dll Orvella.chm README.txt " ] \
    || fail "SHA256SUMS of $1 does not list the three files: $(cat "$2/SHA256SUMS")"
  (cd "$2" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files of $1"
}
unpack "$zip_a" "$scratch/unpacked-a"
unpack "$zip_b" "$scratch/unpacked-b"
for f in OrvlHook.dll Orvella.chm README.txt SHA256SUMS; do
  cmp "$scratch/unpacked-a/$f" "$scratch/unpacked-b/$f" >/dev/null \
    || { cmp -l "$scratch/unpacked-a/$f" "$scratch/unpacked-b/$f" | head -5 || true; fail "$f differs between the two builds"; }
done
cmp "$zip_a" "$zip_b" || fail "the zip files differ between the two builds"
say "two builds, one package: $name, $(stat -c %s "$zip_a") bytes, sha256 $(sha256sum "$zip_a" | cut -c1-16)..."

# The time stamps are the commit's, and no path of the scratch folders is inside.
python3 - "$scratch/unpacked-a" "$commit_time" "$zip_a" <<'EOF' || fail "a time stamp is not the commit's"
import struct, sys, time, zipfile
folder, epoch, zip_path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
dll = open(folder + "/OrvlHook.dll", "rb").read()
pe = struct.unpack_from("<I", dll, 0x3C)[0]
stamp = struct.unpack_from("<I", dll, pe + 8)[0]
assert stamp == epoch, "PE header: %d, commit: %d" % (stamp, epoch)
chm = open(folder + "/Orvella.chm", "rb").read()
stamp = struct.unpack_from(">I", chm, 0x10)[0]
assert stamp == epoch % 86400 * 1000, "help file header: %d" % stamp
want = time.gmtime(max(epoch, 315532800))[:6]
want = want[:5] + (want[5] // 2 * 2,)  # a zip entry keeps its time to two seconds
for entry in zipfile.ZipFile(zip_path).infolist():
    assert entry.date_time == want, "%s is dated %s" % (entry.filename, entry.date_time)
EOF
if grep -a -l -F -e "$scratch" -e "$source_dir" -e "$build" "$scratch/unpacked-a"/*; then fail "a build path is inside the package"; fi
grep -q "Built from commit $commit\." "$scratch/unpacked-a/README.txt" || fail "README.txt does not name the commit"
grep -q "NOT signed" "$scratch/unpacked-a/README.txt" || fail "README.txt of an unsigned package does not say so"
# Windows' help viewer shows nothing from a downloaded (marked) or network copy: the reader is told.
grep -q 'choose "Unblock"' "$scratch/unpacked-a/README.txt" || fail "README.txt does not say to unblock the download"
tr -d '\r' <"$scratch/unpacked-a/README.txt" | tr '\n' ' ' | grep -q "together on a local disk, not on a network share" \
  || fail "README.txt does not say to keep both files on a local disk"
# The binary audit, run here again on what was unpacked (package.sh ran it before zipping).
grep -q "passes the binary audit" "$scratch/a.log.err" || fail "package.sh did not audit the DLL"
audit() { python3 "$source_dir/scripts/audit-dll.py" --forbid "$scratch" --forbid "$source_dir" --forbid "$build" "$@"; }
audit "$scratch/unpacked-a/OrvlHook.dll" >"$scratch/audit-a.log" \
  || { cat "$scratch/audit-a.log"; fail "the package's DLL fails the binary audit"; }
say "unsigned package DLL: $(tail -n 1 "$scratch/audit-a.log")"

# ---- 4. Signed, from a tree with a local change ----------------------------------------------------
echo "local note" >"$tree_a/NOTES.local"
zip_s=$(package "$tree_a" "$scratch/signed.log" ORVL_SIGN_PKCS12="$certs/signer.p12" ORVL_SIGN_PASSWORD="$password" -- --allow-dirty)
[ "$zip_s" = "$tree_a/dist/OrvlHook-$version-dirty-win32.zip" ] || fail "the package of a dirty tree is $zip_s"
unpack "$zip_s" "$scratch/unpacked-s"
signed=$scratch/unpacked-s/OrvlHook.dll
cmp "$scratch/unpacked-s/Orvella.chm" "$scratch/unpacked-a/Orvella.chm" || fail "signing changed the help file"
grep -q "signed with Authenticode" "$scratch/unpacked-s/README.txt" || fail "README.txt of a signed package does not say so"
timeout 60 osslsigncode verify -in "$signed" -CAfile "$certs/signer.pem" >"$scratch/verify.log" 2>&1 \
  && grep -q "Signature verification: ok" "$scratch/verify.log" \
  || { cat "$scratch/verify.log"; fail "the signature does not verify against the signing certificate"; }
if timeout 60 osslsigncode verify -in "$signed" -CAfile "$certs/stranger.pem" >"$scratch/verify-stranger.log" 2>&1; then
  fail "the signature verifies against a certificate that did not make it"
fi
timeout 60 osslsigncode verify -in "$scratch/unpacked-a/OrvlHook.dll" -CAfile "$certs/signer.pem" >/dev/null 2>&1 \
  && fail "the unsigned DLL verifies as signed"
timeout 60 osslsigncode remove-signature -in "$signed" -out "$scratch/stripped.dll" >/dev/null 2>&1 \
  || fail "osslsigncode cannot remove the signature"
cmp "$scratch/stripped.dll" "$scratch/unpacked-a/OrvlHook.dll" || fail "the signed DLL differs from the unsigned one in more than its signature"
grep -q "passes the binary audit" "$scratch/signed.log.err" || fail "package.sh did not audit the signed DLL"
audit --require-signature --ca-file "$certs/signer.pem" "$signed" >"$scratch/audit-s.log" \
  || { cat "$scratch/audit-s.log"; fail "the signed package's DLL fails the binary audit"; }
say "signed package DLL: $(tail -n 1 "$scratch/audit-s.log")"
if audit --require-signature --ca-file "$certs/stranger.pem" "$signed" >"$scratch/audit-stranger.log"; then
  fail "the audit accepts the signature against a certificate that did not make it"
fi
grep -q "^FAIL signature" "$scratch/audit-stranger.log" || { cat "$scratch/audit-stranger.log"; fail "the audit did not name the signature"; }
say "signed: verifies against its certificate only; without the signature it is the unsigned DLL"

# ---- 5. The signed DLL in Messenger ------------------------------------------------------------------
[ -n "${DISPLAY:-}" ] || fail "no X display: run this test through scripts/test.sh"
run=$scratch/wine
mkdir -p "$run"
for program in orvl_messenger.exe orvl_host.exe; do
  cp "$build/bin/$program" "$run/" || fail "$build/bin/$program is missing: build everything first"
done
cp "$signed" "$run/OrvlHook.dll"   # the host loads the module from its own folder
. "$source_dir/scripts/wine-env.sh" "$build/wineprefix"
wine "$run/orvl_messenger.exe" --until-menu 60 </dev/null >"$run/messenger.log" 2>&1 &
messenger=$!
host_rc=0
timeout 90 wine "$run/orvl_host.exe" </dev/null >"$run/host.log" 2>&1 || host_rc=$?
tr -d '\r' <"$run/host.log" | sed 's/^/package-test:   /'
# Messenger closes itself once it has the menu, or gives up after 60 s; without an injection
# there is nothing to wait for.
if [ $host_rc -ne 0 ]; then kill $messenger 2>/dev/null || true; fi
for _ in $(seq 90); do kill -0 $messenger 2>/dev/null || break; sleep 1; done
messenger_rc=0
if kill -0 $messenger 2>/dev/null; then
  kill $messenger 2>/dev/null || true
  wait $messenger 2>/dev/null || true
  messenger_rc="still running after 90 s"
else
  wait $messenger || messenger_rc=$?
fi
cat "$run/messenger.log"
[ $host_rc -eq 0 ] || fail "the host could not inject the signed DLL (exit $host_rc)"
grep -q "answered the handshake" "$run/host.log" || fail "the signed DLL did not answer the handshake"
[ "$messenger_rc" = 0 ] || fail "Messenger's menu bar did not get the \"Orvella\" popup (Messenger: $messenger_rc)"
say "signed DLL injected: handshake answered, \"Orvella\" menu added"
say "passed in $((SECONDS - began)) s"
