#!/usr/bin/env bash
# Builds the peers benchmark (bench/bench_peers.cpp, needs libpcre2-dev) in
# build-bench/ and runs it on four corpora, printing a Markdown table each:
#   - English: Debian's changelogs under /usr/share/doc concatenated and
#     unzipped (the benchmark reads the first 4 MiB, NUL bytes made spaces);
#   - Russian and Chinese: the translated messages (msgstr) of the machine's
#     own translations, /usr/share/locale/{ru,zh_CN}/LC_MESSAGES/*.mo, read
#     with msgunfmt (package gettext), concatenated in file-name order;
#   - the benchmark's built-in English-and-log-like corpus, with the tables
#     of rx_validate, rx_generate and large patterns.
# The dictionary rows need /usr/share/dict/american-english (wamerican).
#   scripts/bench-peers.sh [bench_peers options, e.g. --size=1m --reps=9 --row=literal]
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRX_BUILD_BENCH=ON -DKRX_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target bench_peers
bench=build-bench/bench/bench_peers
if [ ! -x "$bench" ]; then
  echo "bench-peers: bench_peers was not built (is libpcre2-dev installed? scripts/install-deps.sh)" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C # the same file order everywhere, and awk on bytes

# Prints the msgstr texts of msgunfmt's output (a PO file), each followed by
# a line feed; the header entry (msgid "") is left out.
msgstr_texts() {
  awk '
    function unquote(s,   out, i, c, n) {
      s = substr(s, index(s, "\"") + 1)
      s = substr(s, 1, length(s) - 1)
      out = ""
      n = length(s)
      for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        if (c == "\\" && i < n) {
          c = substr(s, ++i, 1)
          if (c == "n") c = "\n"; else if (c == "t") c = "\t"; else if (c == "r") c = "\r"
        }
        out = out c
      }
      return out
    }
    function flush() {
      if (in_str && !header && text != "") printf "%s\n", text
      in_str = 0; text = ""
    }
    /^msgid / { flush(); header = ($0 == "msgid \"\""); in_id = 1; next }
    /^msgstr/ { flush(); in_str = 1; in_id = 0; text = unquote($0); next }
    /^"/      { if (in_str) text = text unquote($0); else if (in_id) header = 0; next }
              { flush() }
    END       { flush() }'
}

# The translations of one language into a file; its name when it holds text.
translations() {
  local lang=$1 out=$work/$1.txt
  if ! command -v msgunfmt >/dev/null; then
    echo "bench-peers: msgunfmt is missing (package gettext; scripts/install-deps.sh): no $lang corpus" >&2
    return 1
  fi
  for f in /usr/share/locale/"$lang"/LC_MESSAGES/*.mo; do
    [ -f "$f" ] || continue
    msgunfmt --no-wrap "$f" 2>/dev/null | msgstr_texts
  done >"$out"
  local files
  files=$(find /usr/share/locale/"$lang"/LC_MESSAGES -name '*.mo' 2>/dev/null | wc -l)
  echo "bench-peers: $lang corpus: $(wc -c <"$out") bytes of translations from $files .mo files" >&2
  [ -s "$out" ] && echo "$out"
}

status=0
run() { "$bench" "$@" || status=$?; echo; }

for f in /usr/share/doc/*/changelog*; do
  [ -f "$f" ] || continue
  case "$f" in
    *.gz) zcat -f "$f" ;;
    *) cat "$f" ;;
  esac
done >"$work/changelogs.txt" 2>/dev/null || true
echo "## English: Debian's changelogs"
if [ -s "$work/changelogs.txt" ]; then
  run "$@" "$work/changelogs.txt"
else
  echo "bench-peers: no changelogs under /usr/share/doc"
fi

echo "## Russian: the machine's translations"
if ru=$(translations ru); then run --lang=ru "$@" "$ru"; fi
echo "## Chinese: the machine's translations"
if zh=$(translations zh_CN); then run --lang=zh "$@" "$zh"; fi

echo "## English: the built-in corpus"
run "$@"
exit "$status"
