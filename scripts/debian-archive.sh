# Sourced by scripts/install-deps.sh and the scripts/fetch-*-source.sh:
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

# krx_private_apt STATE LINE...: makes STATE a private apt state folder
# (source list, lists, cache) whose sources are the given lines ("deb-src
# URI SUITE main"), reads their lists, and sets the array krx_apt_opts to the
# options that make apt-get and apt-cache use it. The system's apt sources
# and state are never touched.
krx_private_apt() {
  local state=$1
  shift
  rm -rf "$state"
  mkdir -p "$state/sources" "$state/lists/partial" "$state/cache/archives/partial" "$state/download"
  printf '%s\n' "$@" > "$state/sources/krx.list"
  krx_apt_opts=(-o Dir::Etc::SourceList=/dev/null
                -o Dir::Etc::SourceParts="$state/sources"
                -o Dir::State::Lists="$state/lists"
                -o Dir::Cache="$state/cache"
                -o Dir::State::Status=/var/lib/dpkg/status
                -o APT::Get::List-Cleanup=0
                -o APT::Sandbox::User=root
                -o Debug::NoLocking=1)
  apt-get "${krx_apt_opts[@]}" -qq update >&2
}

# krx_fetch_source_file STATE PACKAGE=VERSION PATTERN: downloads the file of
# that source package whose name matches the extended regular expression
# PATTERN (say '\.orig\.tar\.[a-z0-9]+') into STATE/download with apt's own
# helper, which checks the SHA256 that apt's signed indices name, checks it
# once more, and prints its path. Fails when the file is not listed, not
# served or does not match. Needs krx_private_apt first.
krx_fetch_source_file() {
  local state=$1 package=$2 pattern=$3 line url name sum sha256 file
  # A line of the form: 'URL' NAME SIZE SHA256:HASH
  line=$(cd "$state/download" &&
         apt-get "${krx_apt_opts[@]}" --print-uris source "$package" 2>/dev/null |
         grep -E "^'[^']+' [^ ]*$pattern " | head -n 1) || true
  if [ -z "$line" ]; then
    echo "$package: no file like $pattern listed" >&2
    return 1
  fi
  url=$(echo "$line" | awk '{ print $1 }' | tr -d "'")
  name=$(echo "$line" | awk '{ print $2 }')
  sum=$(echo "$line" | awk '{ print $4 }')
  case "$sum" in
    SHA256:*) sha256=${sum#SHA256:} ;;
    *) echo "$package: no SHA256 for $name" >&2; return 1 ;;
  esac
  file="$state/download/$name"
  if ! /usr/lib/apt/apt-helper "${krx_apt_opts[@]}" download-file "$url" "$file" "SHA256:$sha256" >&2; then
    echo "$package: $name is not served" >&2
    rm -f "$file"
    return 1
  fi
  if [ "$(sha256sum "$file" | awk '{ print $1 }')" != "$sha256" ]; then
    echo "$package: checksum mismatch for $name" >&2
    rm -f "$file"
    return 1
  fi
  echo "$file"
}
