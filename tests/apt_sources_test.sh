#!/usr/bin/env bash
# Set-up's splitting of package sources (scripts/apt-sources.sh), on sample deb822 and one-line
# files and a sample apt-get update log: the entries that apt itself reads from the healthy copy
# must be exactly the rows marked "kept" below, and the summary must name each failed source once.
# Nothing is fetched: apt only lists what it would download.
# Usage: tests/apt_sources_test.sh <source-dir>
set -uo pipefail
. "$1/scripts/apt-sources.sh" || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
etc=$work/etc
mkdir -p "$etc/sources.list.d" "$work/lists/partial"

# Each entry as apt lists it from the samples, and whether the healthy copy must keep it.
expected='
kept deb http://deb.debian.org/debian bookworm main
kept deb http://deb.debian.org/debian bookworm-updates main
left deb http://deb.debian.org/debian-security bookworm-security main
left deb-src http://deb.debian.org/debian-security bookworm-security main
left deb http://127.0.0.1:9/debian bookworm-backports contrib
left deb http://127.0.0.1:9/debian bookworm-backports main
kept deb http://127.0.0.2:9/debian bookworm-backports contrib
kept deb http://127.0.0.2:9/debian bookworm-backports main
left deb http://127.0.0.5/debian bookworm main
left deb-src http://127.0.0.5/debian bookworm main
kept deb http://127.0.0.6/debian bookworm-updates main
left deb http://127.0.0.1:9/debian bookworm main
'
# An installer's file, without an empty line at its end.
printf '%s\n' 'Types: deb deb-src' 'URIs: http://deb.debian.org/debian-security' 'Suites: bookworm-security' \
  'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' '' \
  'Types: deb' 'URIs: http://deb.debian.org/debian/' 'Suites: bookworm bookworm-updates' \
  'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$etc/sources.list.d/debian.sources"
cat >"$etc/sources.list.d/extra.sources" <<'EOF'
# two mirrors, the second on a continued line, and the key in the file
Types: deb
URIs: http://127.0.0.1:9/debian
 http://127.0.0.2:9/debian/
Suites: bookworm-backports
Components: main contrib
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mDMEZQAAABYJKwYBBAHaRw8BAQdA
 -----END PGP PUBLIC KEY BLOCK-----

Types: deb
URIs: http://127.0.0.3/debian
Suites: bookworm
Components: main
Enabled: false
EOF
cat >"$etc/sources.list" <<'EOF'
# deb http://127.0.0.4/debian bookworm main
deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://127.0.0.5/debian/ bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://127.0.0.5/debian bookworm main
deb http://127.0.0.6/debian bookworm-updates main
EOF
echo 'deb [ signed-by=/usr/share/keyrings/debian-archive-keyring.gpg ] http://127.0.0.1:9/debian bookworm main' \
  >"$etc/sources.list.d/unreachable.list"
cat >"$work/update.log" <<'EOF'
Get:2 http://deb.debian.org/debian bookworm InRelease [151 kB]
Ign:1 http://127.0.0.1:9/debian bookworm InRelease
Err:9 http://deb.debian.org/debian-security bookworm-security/main i386 Packages
  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
  Hashes of expected file:
   - Filesize:376004 [weak]
Err:1 http://127.0.0.1:9/debian bookworm InRelease
  Could not connect to 127.0.0.1:9 (127.0.0.1). - connect (111: Connection refused)
Err:4 http://127.0.0.1:9/debian bookworm-backports InRelease
  Could not connect to 127.0.0.1:9 (127.0.0.1). - connect (111: Connection refused)
Err:6 http://127.0.0.5/debian bookworm InRelease
  Could not resolve '127.0.0.5'
Err:10 http://deb.debian.org/debian-security bookworm-security/main amd64 Packages
  File has unexpected size (390000 != 391000). Mirror sync in progress? [IP: 203.0.113.80 80]
W: Some index files failed to download. They have been ignored, or old ones used instead.
EOF

listed() {   # the entries apt reads from the sources file $1 and the folder $2
  apt-get -o Dir::Etc::SourceList="$1" -o Dir::Etc::SourceParts="$2" -o Dir::State::Lists="$work/lists" \
    indextargets --no-release-info --format '$(TARGET_OF) $(SITE) $(RELEASE) $(COMPONENT)' | sort -u
}
rows() { awk -v mark="$1" 'NF && ($1 == mark || mark == "") { $1 = ""; sub(/^ /, ""); print }' <<<"$expected" | sort -u; }
rc=0
check() {   # what, expected, actual
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1"; diff <(echo "$2") <(echo "$3") | sed -n 's/^[<>]/  &/p'; rc=1
  else
    echo "ok: $1"
  fi
}

# The samples themselves are what the table says apt reads from them.
check "apt reads the table's entries from the samples" "$(rows "")" "$(listed "$etc/sources.list" "$etc/sources.list.d")"

write_healthy_sources "$etc" "$work/update.log" "$work/out" || { echo "FAIL: write_healthy_sources failed"; exit 1; }
check "the healthy copy keeps the rows marked kept, and only those" "$(rows kept)" \
  "$(listed "$work/out/healthy.list" "$work/out/parts")"
grep -q -- '-----END PGP PUBLIC KEY BLOCK-----' "$work/out/parts/healthy.sources" \
  || { echo "FAIL: the key given in the file is lost"; rc=1; }

check "the summary names each failed source once, with apt's reason" "$(printf '%s\n' \
  "http://127.0.0.1:9/debian bookworm-backports: Could not connect to 127.0.0.1:9 (127.0.0.1). - connect (111: Connection refused)" \
  "http://127.0.0.1:9/debian bookworm: Could not connect to 127.0.0.1:9 (127.0.0.1). - connect (111: Connection refused)" \
  "http://127.0.0.5/debian bookworm: Could not resolve '127.0.0.5'" \
  "http://deb.debian.org/debian-security bookworm-security: File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]" \
  | sort)" "$(failed_sources "$work/update.log")"
exit $rc
