# Sourced by scripts/install-deps.sh and scripts/fetch-yyjson-source.sh:
# krx_debian_archive prints the address of the Debian archive that this
# machine's own apt sources use for its installed release, so that the
# private source lists of those scripts use the same mirror.
#
# It looks, in order, at
#   - the deb822 files /etc/apt/sources.list.d/*.sources: the first URIs: of
#     an enabled entry of type deb whose Suites: hold the release's codename
#     (VERSION_CODENAME of /etc/os-release, e.g. bookworm) itself;
#   - /etc/apt/sources.list and /etc/apt/sources.list.d/*.list: the URI of
#     the first "deb" line whose suite is that codename.
# Entries of other suites (bookworm-security, bookworm-updates) are not
# taken: they may live on another archive. Nothing found is an error.
# KRX_APT_ROOT (default: empty) prefixes every file read, for tests.

krx_debian_archive() {
  local root=${KRX_APT_ROOT:-}
  local codename
  codename=$(. "$root/etc/os-release" 2>/dev/null && echo "${VERSION_CODENAME:-}")
  if [ -z "$codename" ]; then
    echo "cannot tell the installed release (no VERSION_CODENAME in $root/etc/os-release)" >&2
    return 1
  fi
  local uri="" f
  for f in "$root"/etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk -v want="$codename" '
      function flush() {
        if (!found && types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " want " ") &&
            enabled != "no" && uris != "") { split(uris, u, " "); found = u[1] }
        types = suites = uris = enabled = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      {
        line = $0; key = tolower(line); sub(/:.*/, "", key)
        value = line; sub(/^[^:]*:[ \t]*/, "", value); gsub(/[ \t]+/, " ", value)
        if (key == "types") types = value
        else if (key == "suites") suites = value
        else if (key == "uris") uris = value
        else if (key == "enabled") enabled = tolower(value)
      }
      END { flush(); if (found) print found }' "$f")
    [ -n "$uri" ] && break
  done
  if [ -z "$uri" ]; then
    for f in "$root/etc/apt/sources.list" "$root"/etc/apt/sources.list.d/*.list; do
      [ -f "$f" ] || continue
      # deb [options] URI SUITE COMPONENT...
      uri=$(awk -v want="$codename" '
        $1 == "deb" {
          i = 2
          if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
          if ($(i + 1) == want) { print $i; exit }
        }' "$f")
      [ -n "$uri" ] && break
    done
  fi
  if [ -z "$uri" ]; then
    echo "no apt source for the release $codename in $root/etc/apt (sources.list.d/*.sources, sources.list)" >&2
    return 1
  fi
  echo "${uri%/}"
}
