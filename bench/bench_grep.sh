#!/usr/bin/env bash
# kelvaron-regex grep -c against GNU grep -c (and ripgrep -c when it is
# installed) on 100 MiB of Debian changelogs: wall seconds of whole runs,
# the medians of paired runs (the two programs in turn, so that a drift of
# the machine's speed moves both), and their ratio pair by pair. The counts
# must be equal, or the row fails. A benchmark, not a test: nothing is
# judged but the counts.
#
#   bench/bench_grep.sh [--host PATH] [--file PATH] [--runs N]
#
#   --host  the host to time (default: build/kelvaron-regex)
#   --file  the text (default: build/bench-grep/changelogs.txt, made when
#           missing from the first 104857522 bytes of the changelogs under
#           /usr/share/doc, in sorted order, the .gz ones unpacked)
#   --runs  pairs of runs per row (default 11)
#
# GNU grep runs in the C locale with -E; ripgrep (Debian's package ripgrep,
# which scripts/install-deps.sh --bench installs) with (?-u) before each
# pattern, so that \w and case folding are ASCII there too. Output goes to
# a file: GNU grep stops at the first match when it writes to /dev/null.
set -euo pipefail
cd "$(dirname "$0")/.."

host=build/kelvaron-regex
file=build/bench-grep/changelogs.txt
runs=11
while [ $# -gt 0 ]; do
  case $1 in
    --host) host=$2; shift 2 ;;
    --file) file=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "usage: $0 [--host PATH] [--file PATH] [--runs N]" >&2; exit 2 ;;
  esac
done
[ -x "$host" ] || { echo "bench_grep: no host at $host (build it first)" >&2; exit 2; }
export LC_ALL=C
size=104857522

if [ ! -s "$file" ]; then
  mkdir -p "$(dirname "$file")"
  echo "bench_grep: making $file from /usr/share/doc/*/changelog*" >&2
  find /usr/share/doc -name 'changelog*' -type f | sort | while read -r f; do zcat -f -- "$f"; done |
    head -c "$size" >"$file.part" || true
  mv "$file.part" "$file"
fi
echo "text: $file, $(stat -L -c %s "$file") bytes, $(wc -l <"$file") lines"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
have_rg=0
command -v rg >/dev/null && have_rg=1
[ "$have_rg" = 1 ] || echo "ripgrep is not installed (scripts/install-deps.sh --bench installs it): its column is left out"

# Seconds of one run of the command, its output in $tmp/out.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >"$tmp/out" 2>/dev/null || true
  local end=$EPOCHREALTIME
  echo "$start $end" | awk '{ printf "%.4f", $2 - $1 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The row of one search: label, then the three commands' arguments as
# "ours|gnu|rg" (each split on spaces, the pattern last).
row() {
  local label=$1 ours=$2 gnu=$3 rg=$4
  local -a a b c
  read -r -a a <<<"$ours"
  read -r -a b <<<"$gnu"
  read -r -a c <<<"$rg"
  local want got rgc=""
  "$host" grep -c "${a[@]}" "$file" >"$tmp/ours" || true
  grep -c "${b[@]}" "$file" >"$tmp/gnu" || true
  got=$(cat "$tmp/ours") want=$(cat "$tmp/gnu")
  if [ "$got" != "$want" ]; then
    echo "bench_grep: FAIL: $label: kelvaron-regex counts $got lines, GNU grep $want" >&2
    return 1
  fi
  if [ "$have_rg" = 1 ]; then
    rgc=$(rg -c "${c[@]}" "$file" || echo 0)
    [ "$rgc" = "$want" ] || { echo "bench_grep: FAIL: $label: ripgrep counts $rgc lines, GNU grep $want" >&2; return 1; }
  fi
  : >"$tmp/a"; : >"$tmp/b"; : >"$tmp/c"; : >"$tmp/ratio"
  for _ in $(seq "$runs"); do
    local ta tb
    ta=$(seconds "$host" grep -c "${a[@]}" "$file")
    tb=$(seconds grep -c "${b[@]}" "$file")
    echo "$ta" >>"$tmp/a"
    echo "$tb" >>"$tmp/b"
    echo "$ta $tb" | awk '{ printf "%.4f\n", $1 / $2 }' >>"$tmp/ratio"
    if [ "$have_rg" = 1 ]; then
      seconds rg -c "${c[@]}" "$file" >>"$tmp/c"
      echo >>"$tmp/c"
    fi
  done
  local rg_col=""
  [ "$have_rg" = 0 ] || rg_col=" $(median <"$tmp/c") |"
  printf '| %s | %s | %s | %s | %.2f |%s\n' "$label" "$want" "$(median <"$tmp/a")" "$(median <"$tmp/b")" \
    "$(median <"$tmp/ratio")" "$rg_col"
}

echo
header='| pattern | lines | kelvaron-regex grep -c | GNU grep -c | ratio |'
rule='|---|---:|---:|---:|---:|'
if [ "$have_rg" = 1 ]; then
  header="$header ripgrep -c |"
  rule="$rule---:|"
fi
echo "$header"
echo "$rule"
status=0
row '`security`' 'security' '-E security' '(?-u)security' || status=1
row '`fixed\|added\|removed`' 'fixed|added|removed' '-E fixed|added|removed' '(?-u)fixed|added|removed' || status=1
row '`\w+@\w+`' '\w+@\w+' '-E \w+@\w+' '(?-u)\w+@\w+' || status=1
row '`(?i)debian` (grep -i)' '-i debian' '-i debian' '-i (?-u)debian' || status=1
row '`zqxjkv` (no match)' 'zqxjkv' '-E zqxjkv' '(?-u)zqxjkv' || status=1
echo
echo "wall seconds, medians of $runs paired runs; ratio: kelvaron-regex / GNU grep, the median of the pairs' ratios"
exit "$status"
