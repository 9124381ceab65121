# shellcheck shell=bash
# Sourced by setup.sh (and its test): leaving package sources that apt could not update out of
# one run, without changing the machine's own files.

# "address suite: reason" for each source that the apt-get update logs in file $1 name in an
# "Err:" line, once each, with the first reason given.
failed_sources() {
  awk '/^Err:[0-9]+ / { suite = $3; sub(/\/.*/, "", suite); getline reason; sub(/^[ \t]+/, "", reason)
                        if (!seen[$2 " " suite]++) print $2 " " suite ": " reason }' "$1" | sort
}

# The package sources under folder $1 (/etc/apt), one entry per address and suite, as
# $3/parts/healthy.sources and $3/healthy.list, less the pairs that the apt-get update logs in
# file $2 name in "Err:" lines.
write_healthy_sources() {
  local etc=$1 failures=$2 out=$3 parts=() file
  mkdir -p "$out/parts"
  for file in "$etc"/sources.list.d/*.sources; do [ -f "$file" ] && parts+=("$file"); done
  awk -v failures="$failures" '
    function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
    function bare(uri) { sub(/\/+$/, "", uri); return uri }
    function flush(   u, s, nu, ns, us, ss, i) {
      if (uris != "" && suites != "") {
        nu = split(trim(uris), us, /[ \t]+/); ns = split(trim(suites), ss, /[ \t]+/)
        for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++) {
          if ((bare(us[u]) " " ss[s]) in failed) continue
          print "URIs: " us[u]; print "Suites: " ss[s]
          for (i = 0; i < n; i++) print lines[i]
          print ""
        }
      }
      n = 0; uris = ""; suites = ""; key = ""
    }
    BEGIN {
      # apt names a suite alone ("InRelease") or with a component ("suite/main i386 Packages").
      while ((getline line < failures) > 0)
        if (line ~ /^Err:[0-9]+ /) { split(line, f, " "); sub(/\/.*/, "", f[3]); failed[bare(f[2]) " " f[3]] = 1 }
    }
    FNR == 1 { flush() }   # a file need not end in an empty line
    /^[ \t]*#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]/ {             # a field continued on the next line
      if (key == "uris") uris = uris " " $0
      else if (key == "suites") suites = suites " " $0
      else lines[n++] = $0
      next
    }
    {
      key = tolower(trim(substr($0, 1, index($0, ":") - 1))); value = trim(substr($0, index($0, ":") + 1))
      if (key == "uris") uris = value
      else if (key == "suites") suites = value
      else lines[n++] = $0   # Types, Components, Signed-By, Enabled...
    }
    END { flush() }' "${parts[@]}" /dev/null >"$out/parts/healthy.sources"
  parts=()
  [ -f "$etc/sources.list" ] && parts+=("$etc/sources.list")
  for file in "$etc"/sources.list.d/*.list; do [ -f "$file" ] && parts+=("$file"); done
  awk -v failures="$failures" '
    function bare(uri) { sub(/\/+$/, "", uri); return uri }
    BEGIN { while ((getline line < failures) > 0)
              if (line ~ /^Err:[0-9]+ /) { split(line, f, " "); sub(/\/.*/, "", f[3]); failed[bare(f[2]) " " f[3]] = 1 } }
    /^[ \t]*(deb|deb-src)[ \t]/ {
      rest = $0; sub(/^[ \t]*(deb|deb-src)[ \t]+/, "", rest)
      if (rest ~ /^\[/) sub(/^\[[^]]*\][ \t]*/, "", rest)
      split(rest, f, /[ \t]+/)
      if (!((bare(f[1]) " " f[2]) in failed)) print
    }' "${parts[@]}" /dev/null >"$out/healthy.list"
}
