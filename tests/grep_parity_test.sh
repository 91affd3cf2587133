#!/usr/bin/env bash
# kelvaron-regex grep against GNU grep: a table of flag combinations, each
# run over a few small inputs made here (NUL bytes, a long line, no final
# line feed, CRLF lines, several files, a folder tree with symbolic links),
# through both programs in the C locale; standard output must be the same
# bytes and the exit status the same. GNU grep reads the patterns as -E (or -F); the
# patterns are ones the two dialects read alike, where a first-end match is
# also the longest.
#
#   bash tests/grep_parity_test.sh PATH/TO/kelvaron-regex
#
# Exit status 0 when every run agrees, 1 otherwise, 77 (skipped) when GNU
# grep is not installed.
set -u

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
  echo "usage: $0 PATH/TO/kelvaron-regex" >&2
  exit 2
fi
cli=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
if ! grep --version 2>/dev/null | head -n 1 | grep -q 'GNU grep'; then
  echo "skipped: GNU grep is not installed"
  exit 77
fi
export LC_ALL=C
unset GREP_COLOR GREP_COLORS
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 2

# ---- the inputs ---------------------------------------------------------------
printf 'an error here\nfine\nerror error\n\nERROR: disk full\nthe terror of errors\nlast error' >a.txt
printf 'first\r\nan error\r\n\r\nerror at end\r\n' >crlf.txt
printf 'ab\0cd\nxb error\ncd\0b\nzz\n' >nul.bin
printf '\0\n\0\0\n' >nuls.bin
: >empty.txt
printf '\n' >lf.txt
# a line of 300000 bytes with a match at its end, between short ones
{ echo 'short error'; head -c 300000 /dev/zero | tr '\0' 'x'; echo ' error'; echo 'tail'; } >long.txt
# short lines, then a NUL after 200000 bytes: the lines before its block are text
awk 'BEGIN { for (i = 0; i < 20000; i++) printf "line %d %s\n", i, (i % 7 ? "ok" : "error") }' >late.bin
printf 'x\0y error\n' >>late.bin
mkdir -p tree/src/deep tree/doc
printf 'error in main\nok\n' >tree/src/main.c
printf 'no\nerror deep\n' >tree/src/deep/util.c
printf 'error notes\n' >tree/doc/notes.txt
printf 'nothing\n' >tree/doc/plain.txt
printf 'error.log\n' >tree/error.log
ln -s ../a.txt tree/doc/link.txt
ln -s ../src tree/doc/src-link
printf 'fine\nERROR\n' >pats.txt

# ---- the table ------------------------------------------------------------------
# flags (split on spaces; "-" for none) | pattern (one argument; "@" for
# none, when -e or -f give them) | files ("-": standard input, which is
# a.txt; "@DIR": none, run in DIR) [| GREP_COLORS]
cases=0
failures=0
run_row() {
  local flags=$1 pattern=$2 files=$3 colors=${4-}
  local -a f=() fl=()
  [ "$flags" = "-" ] || read -r -a fl <<<"$flags"
  local dir=$tmp
  case $files in @*) dir=$tmp/${files#@} files="" ;; esac
  read -r -a f <<<"$files"
  local -a p=(-- "$pattern")
  [ "$pattern" = "@" ] && p=(--)
  local dialect=-E
  case " $flags " in *" -F "*) dialect=-F ;; esac
  cases=$((cases + 1))
  (cd "$dir" && GREP_COLORS=$colors grep "$dialect" "${fl[@]}" "${p[@]}" "${f[@]}" <"$tmp/a.txt" \
    >"$tmp/want.out" 2>/dev/null)
  local want_rc=$?
  (cd "$dir" && GREP_COLORS=$colors "$cli" grep "${fl[@]}" "${p[@]}" "${f[@]}" <"$tmp/a.txt" \
    >"$tmp/got.out" 2>"$tmp/got.err")
  local got_rc=$?
  if [ "$got_rc" != "$want_rc" ] || ! cmp -s "$tmp/got.out" "$tmp/want.out"; then
    failures=$((failures + 1))
    {
      echo "FAIL: ${colors:+GREP_COLORS=$colors }grep $flags -- '$pattern' $files: exit status $got_rc, GNU grep's $want_rc"
      diff <(od -c "$tmp/want.out") <(od -c "$tmp/got.out") | head -n 20 | sed 's/^/  /'
      sed 's/^/  stderr: /' "$tmp/got.err" | head -n 5
    } >&2
  fi
}

files_sets=(
  "a.txt"
  "crlf.txt"
  "a.txt crlf.txt empty.txt lf.txt"
  "nul.bin"
  "nuls.bin a.txt"
  "long.txt"
  "late.bin"
)
# flags | pattern, each run over every set of files above
while IFS='|' read -r flags pattern; do
  for files in "${files_sets[@]}"; do run_row "$flags" "$pattern" "$files"; done
done <<'TABLE'
-|error
-n|error
-c|error
-v|error
-vn|error
-cv|error
-o|err[a-z]*
-on|[0-9]+
-i|error
-ic|ERROR
-w|error
-x|fine
-x|first
-xc|error error
-xv|fine
-l|error
-L|error
-q|error
-s|zz
-m 1|error
-c -m 0|error
-c -v|
-L -m 0|error
-m 2 -c|error
-m 1 -A 1|error
-n -A 1|error
-n -B 2|^e
-C 1|fine
-n -C 1 -v|error
-n -A 1 -B 3 -m 2|error
-A 2 -C 1 -n|err
-C 3 -B 1|fine
-v -m 2 -A 1|fine
-v -m 3 -n|\berror\b
-A 1 --no-group-separator|fine
-B 1 --group-separator=::|e
-2 -c|error
-h|error
-H -n|error
-a|b
-a -n|[a-z]+
-a -o|b
-I|error
-I -c|b
-c|^
-c|^$
-n|x$
-e error -e fine|@
-e fine -e ERROR -n|@
-x -e e[a-z]+ -e error.error|@
-w -c -e err -e error|@
-F|error
-F -x|fine
-F -i|ERROR: d
-o -i|e[r]+
--color=always|error
--color=always -n -H|error
--color=always -o|r+
--color=always -A 1 -n|fine
--color=always -v -B 1|error
--color=always -c|error
--color=always -l|error
-|
-x|
TABLE

# flags and patterns that need files of their own (the folder tree, several
# operands, standard input), or colours
while IFS='|' read -r flags pattern files colors; do
  run_row "$flags" "$pattern" "$files" "$colors"
done <<'TABLE'
--color=always|error|a.txt crlf.txt|sl=1:cx=2
--color=always -A 1|fine|a.txt|sl=1:cx=2:rv
--color=always -v -A 1|fine|a.txt|sl=1:cx=2:rv
--color=always -n -v -C 1|fine|a.txt|sl=1;4:mc=7
--color=always -n -H|error|a.txt crlf.txt|ne:mt=4:fn=:ln=33
--color=always -c -H|error|a.txt|fn=1:se=
--color=always -o -b|r+|a.txt|bogus:ms=5:
--color=always|e.r|crlf.txt|ms=:sl=1
-H|error|-
-c --label=in|error|- a.txt
-r|error|tree
-rn|error|@tree
-r --exclude-dir=src -c|error|@tree
-rn|error|tree/src tree/doc
-R|error|tree
-Rc|error|tree/doc
-r --include=*.c|error|tree
-r --exclude=*.c|error|tree
-r --exclude-dir=deep|error|tree
-r --include=*.txt --exclude=n*|error|tree
-rc|error|tree
-rl|error|tree
-rL|error|tree
-r -h|error|tree/doc
-|error|tree a.txt
-s|error|tree no-such-file a.txt
-c|error|a.txt no-such-file
-f pats.txt|@|a.txt
-f pats.txt -e here -c|@|a.txt
-f empty.txt|@|a.txt
-v -f empty.txt|@|a.txt
TABLE
echo "grep_parity_test: $((cases - failures)) of $cases runs agree with GNU grep"
[ "$failures" -eq 0 ]
