#!/usr/bin/env bash
# Runs the command-line host on a few cases of each subcommand and checks
# its standard output, standard error and exit status byte for byte.
#
#   bash tests/cli_test.sh PATH/TO/kelvaron-regex
#
# Exit status 0 when every case passes, 1 otherwise (each failure is
# described on standard error).
set -u

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
  echo "usage: $0 PATH/TO/kelvaron-regex" >&2
  exit 2
fi
cli=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cases=0
failures=0

# check NAME RC STDOUT STDERR [--stdin TEXT] [--] ARGS...
#   Runs the host with ARGS (standard input: TEXT, or empty) and compares the
#   exit status with RC and both outputs with STDOUT and STDERR exactly. A
#   STDERR of "*" accepts any non-empty text (used for usage messages, whose
#   wording is free); stdout must then be empty unless STDOUT says otherwise.
check() {
  local name=$1 want_rc=$2 want_out=$3 want_err=$4
  shift 4
  local input=""
  if [ "${1-}" = "--stdin" ]; then
    input=$2
    shift 2
  fi
  if [ "${1-}" = "--" ]; then shift; fi
  cases=$((cases + 1))
  printf '%s' "$input" | "$cli" "$@" >"$tmp/out" 2>"$tmp/err"
  local rc=$?
  printf '%s' "$want_out" >"$tmp/want_out"
  local bad=""
  [ "$rc" = "$want_rc" ] || bad="$bad exit status $rc, wanted $want_rc;"
  cmp -s "$tmp/out" "$tmp/want_out" || bad="$bad standard output differs;"
  if [ "$want_err" = "*" ]; then
    [ -s "$tmp/err" ] || bad="$bad standard error is empty;"
  else
    printf '%s' "$want_err" >"$tmp/want_err"
    cmp -s "$tmp/err" "$tmp/want_err" || bad="$bad standard error differs;"
  fi
  if [ -n "$bad" ]; then
    failures=$((failures + 1))
    {
      echo "FAIL: $name:$bad"
      echo "  command: kelvaron-regex $*"
      echo "  --- stdout (got, then wanted):"
      sed 's/^/  | /' "$tmp/out"
      sed 's/^/  > /' "$tmp/want_out"
      echo "  --- stderr (got):"
      sed 's/^/  | /' "$tmp/err"
      [ "$want_err" = "*" ] || { echo "  --- stderr (wanted):"; sed 's/^/  > /' "$tmp/want_err"; }
    } >&2
  fi
}

nl=$'\n'

# --- validate ---------------------------------------------------------------
check "validate accepts" 0 '{"ok":true}'"$nl" "" -- validate 'a(b|c)+'
check "validate rejects inside the answer" 0 '{"ok":false,"error":"trailing junk at '"')'"'"}'"$nl" "" \
  -- validate 'a)'
check "validate human ok" 0 "ok$nl" "" -- -H validate 'a'
check "validate human message" 0 "unclosed group$nl" "" -- validate --human '(a'
check "validate needs one pattern" 2 "" "*" -- validate

# --- test -------------------------------------------------------------------
check "test with text argument" 0 \
  '{"matches":[{"start":0,"end":2,"text":"ab","groups":[{"index":1,"start":1,"end":2,"text":"b"}]},{"start":3,"end":5,"text":"ac","groups":[{"index":1,"start":4,"end":5,"text":"c"}]}]}'"$nl" \
  "" -- test 'a(b|c)' 'ab ac'
check "test reads standard input" 0 \
  '{"matches":[{"start":1,"end":3,"text":"b\n","groups":[]}]}'"$nl" "" \
  --stdin "ab${nl}" -- test 'b\s'
printf 'xyz\nzz' >"$tmp/text.txt"
check "test reads --file" 0 \
  '{"matches":[{"start":2,"end":3,"text":"z","groups":[]},{"start":4,"end":6,"text":"zz","groups":[]}]}'"$nl" "" \
  -- test 'z+' --file "$tmp/text.txt"
check "test reads --file -" 0 '{"matches":[{"start":0,"end":1,"text":"q","groups":[]}]}'"$nl" "" \
  --stdin "q" -- test --file - q
printf 'ab\0cd' >"$tmp/nul.txt"
check "a NUL byte ends a text read from a file" 0 \
  '{"matches":[{"start":0,"end":1,"text":"a","groups":[]},{"start":1,"end":2,"text":"b","groups":[]}]}'"$nl" \
  "kelvaron-regex: note: the text holds a NUL byte at offset 2; only the 2 bytes before it are used$nl" \
  -- test . --file "$tmp/nul.txt"
check "test after --" 0 '{"matches":[{"start":2,"end":5,"text":"-12","groups":[]}]}'"$nl" "" \
  -- -- test '-?\d+' 'x -12 y'
check "test invalid pattern" 1 "" "invalid pattern: unclosed group$nl" -- test '(a' 'a'
check "test budget" 1 "" "backtracking limit reached$nl" -- test 'a*b' "$(printf 'a%.0s' $(seq 1004))"
check "test human" 0 \
"     1  hello
          ^~
     2  world
           ^
     ...
     4  yl
         ^
3 matches
  #1 [2,4) \"ll\"
  #2 [9,10) \"l\"
  #3 [15,16) \"l\"
" "" -- test -H 'l+' "hello${nl}world${nl}x${nl}yl"
check "test human shows groups and empty matches" 0 \
"     1  ab
        ^||
3 matches
  #1 [0,1) \"a\"
      group 1 [0,1) \"a\"
  #2 [1,1) \"\"
  #3 [2,2) \"\"
" "" -- --human test '(a)?(?:x)?' 'ab'
check "test human escapes" 0 \
"     1  a\\tb\\n
         ^~~~~
1 match
  #1 [1,4) \"\\tb\\n\"
" "" -- -H test '\sb\s' "a	b${nl}"
check "test human without match" 0 "no match$nl" "" -- -H test z abc
check "test text twice" 2 "" "*" -- test a b --file "$tmp/text.txt"
check "test missing file" 2 "" "*" -- test a --file "$tmp/no-such-file"
check "test too many arguments" 2 "" "*" -- test a b c

# --- replace ----------------------------------------------------------------
check "replace" 0 '{"result":"bonono","count":3}'"$nl" "" -- replace a o banana
check "replace reads standard input" 0 '{"result":"x-y\n","count":1}'"$nl" "" \
  --stdin "x y${nl}" -- replace ' ' - 
check "replace takes the replacement literally" 0 '{"result":"$1\\1","count":1}'"$nl" "" \
  -- replace '(a)' '$1\1' a
check "replace human" 0 "bonono${nl}count: 3$nl" "" -- replace -H a o banana
check "replace human keeps a final line break" 0 "bonono${nl}count: 3$nl" "" \
  --stdin "banana${nl}" -- replace --human a o
check "replace null answer" 1 "" "invalid pattern: unexpected '*'$nl" -- replace '*' x y
check "replace needs a replacement" 2 "" "*" -- replace a

# --- generate ---------------------------------------------------------------
check "generate from arguments" 0 \
  '{"pattern":"^\\d{4}-\\d{2}-\\d{2}$","verbose":"(?x)\n^\n  \\d{4}-\\d{2}-\\d{2}\n$"}'"$nl" "" \
  -- generate 2023-12-01 2024-01-15
check "generate quotes its arguments as JSON" 0 \
  '{"pattern":"^say \"hi\"$","verbose":"(?x)\n^\n  say\\ \"hi\"\n$"}'"$nl" "" -- generate 'say "hi"'
check "generate quotes backslashes" 0 \
  '{"pattern":"^[A-Za-z_]\\\\[A-Za-z_]$","verbose":"(?x)\n^\n  [A-Za-z_]\\\\[A-Za-z_]\n$"}'"$nl" "" \
  -- generate 'a\b' 'c\d'
check "generate quotes control bytes" 0 \
  '{"pattern":"^a\tb$","verbose":"(?x)\n^\n  a\\\tb\n$"}'"$nl" "" -- generate "a	b"
check "generate --json -" 0 \
  '{"pattern":"^x-(1-2|1|2)$","verbose":"(?x)\n^\n  x-(1-2\n  |\n  1\n  |\n  2)\n$"}'"$nl" "" \
  --stdin '["x-1","x-1-2","x-2"]' -- generate --json -
printf '["cat","dog-1"]\n' >"$tmp/examples.json"
check "generate --json FILE, human" 0 \
"^(cat|dog-1)\$

(?x)
^
  (cat
  |
  dog-1)
\$
" "" -- -H generate --json "$tmp/examples.json"
check "generate null answer" 1 "" "empty examples array$nl" --stdin '[]' -- generate --json -
check "generate invalid JSON" 1 "" "invalid JSON$nl" --stdin '["a",]' -- generate --json=-
check "generate needs examples" 2 "" "*" -- generate
check "generate takes examples one way" 2 "" "*" -- generate a --json "$tmp/examples.json"

# --- the command line itself ------------------------------------------------
check "no command" 2 "" "*" --
check "unknown command" 2 "" "*" -- frobnicate a
check "unknown option" 2 "" "*" -- test -x a
cases=$((cases + 1))
if ! "$cli" --help >"$tmp/help" 2>"$tmp/err" || [ -s "$tmp/err" ] ||
   ! grep -q 'NUL byte' "$tmp/help" || ! grep -q 'generate --json FILE' "$tmp/help" ||
   ! grep -q -- '--human' "$tmp/help"; then
  failures=$((failures + 1))
  echo "FAIL: --help does not exit 0 with the documentation on standard output" >&2
fi

echo "cli_test: $((cases - failures)) of $cases cases passed"
[ "$failures" -eq 0 ]
