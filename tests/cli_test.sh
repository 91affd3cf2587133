#!/usr/bin/env bash
# Runs the command-line host on a few cases of each subcommand and checks
# its standard output, standard error and exit status byte for byte.
#
#   bash tests/cli_test.sh PATH/TO/kelvaron-regex VERSION
#
# VERSION is the project's version, which --version must print.
#
# Exit status 0 when every case passes, 1 otherwise (each failure is
# described on standard error).
set -u

if [ $# -ne 2 ] || [ ! -x "$1" ]; then
  echo "usage: $0 PATH/TO/kelvaron-regex VERSION" >&2
  exit 2
fi
cli=$1
version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cases=0
failures=0

# check NAME RC STDOUT STDERR [--stdin TEXT] [--env NAME=VALUE] [--] ARGS...
#   Runs the host with ARGS (standard input: TEXT, or empty; the variable
#   set in its environment when given) and compares the
#   exit status with RC and both outputs with STDOUT and STDERR exactly. A
#   STDERR of "*" accepts any non-empty text (used for usage messages, whose
#   wording is free); stdout must then be empty unless STDOUT says otherwise.
#   A STDOUT of "@file:PATH" is compared with the bytes of PATH.
check() {
  local name=$1 want_rc=$2 want_out=$3 want_err=$4
  shift 4
  local input=""
  if [ "${1-}" = "--stdin" ]; then
    input=$2
    shift 2
  fi
  local assign=KRX_CLI_TEST=1
  if [ "${1-}" = "--env" ]; then
    assign=$2
    shift 2
  fi
  if [ "${1-}" = "--" ]; then shift; fi
  cases=$((cases + 1))
  printf '%s' "$input" | env "$assign" "$cli" "$@" >"$tmp/out" 2>"$tmp/err"
  local rc=$?
  case "$want_out" in
    @file:*) cp "${want_out#@file:}" "$tmp/want_out" ;;  # bytes a shell string cannot hold
    *) printf '%s' "$want_out" >"$tmp/want_out" ;;
  esac
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
check "validate human message" 0 "(a$nl^$nl""unclosed group$nl" "" -- validate --human '(a'
check "validate human caret" 0 "(?<name>x)$nl ^$nl""unexpected '?'$nl" \
  "kelvaron-regex: warning: pattern byte 0: (?<name> is a named group elsewhere: here groups are (...), numbered from 1, and (?:...)$nl" \
  -- validate --human '(?<name>x)'
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
check "test invalid pattern" 2 "" "kelvaron-regex: invalid pattern: unclosed group$nl" -- test '(a' 'a'
check "test budget" 2 "" "kelvaron-regex: backtracking limit reached$nl" \
  -- test '(?:a|b){0,5000}c' "$(printf 'a%.0s' $(seq 1500))"
check "test without a match exits 1" 1 '{"matches":[]}'"$nl" "" -- test z abc
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
check "test human without match" 1 "no match$nl" "" -- -H test z abc
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
check "replace null answer" 2 "" "kelvaron-regex: invalid pattern: unexpected '*'$nl" -- replace '*' x y
check "replace without a match exits 1" 1 '{"result":"abc","count":0}'"$nl" "" -- replace z y abc
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
check "generate null answer" 2 "" "kelvaron-regex: empty examples array$nl" --stdin '[]' -- generate --json -
check "generate invalid JSON" 2 "" "kelvaron-regex: invalid JSON$nl" --stdin '["a",]' -- generate --json=-
check "generate needs examples" 2 "" "*" -- generate
check "generate takes examples one way" 2 "" "*" -- generate a --json "$tmp/examples.json"

# --- dialect-trap warnings (standard error only; the answer is unchanged) ---
w="kelvaron-regex: warning: pattern byte"
ok='{"ok":true}'"$nl"
# pattern | the warnings it draws
while IFS='|' read -r pattern want; do
  printf -v want '%b' "${want//\$w/$w}"
  check "warning for $pattern" 0 "$ok" "$want" -- validate "$pattern"
done <<'TABLE'
a\n|$w 1: \\n is the letter 'n' here, not a line feed\n
\t\r\f\v|$w 0: \\t is the letter 't' here, not a tab\n$w 2: \\r is the letter 'r' here, not a carriage return\n$w 4: \\f is the letter 'f' here, not a form feed\n$w 6: \\v is the letter 'v' here, not a vertical tab\n
\a\e\0|$w 0: \\a is the letter 'a' here, not a bell\n$w 2: \\e is the letter 'e' here, not an escape\n$w 4: \\0 is the digit '0' here, not a NUL byte\n
(a)\1|$w 3: \\1 is the digit 1 here, not a back-reference (there are no back-references)\n
\x41\u00e9|$w 0: \\x is the letter 'x' here, not a hexadecimal escape\n$w 4: \\u is the letter 'u' here, not a Unicode escape\n
\p{L}\P{N}|$w 0: \\p is the letter 'p' here, not a Unicode property\n$w 5: \\P is the letter 'P' here, not a Unicode property\n
x[\d]|$w 2: \\d inside brackets is a backslash and the byte 'd' here, not an escape\n
[a\]b]|$w 2: \\] inside brackets is a backslash here, and that ']' ends the set\n
[^[:digit:]x]|$w 2: [:digit:] is no POSIX class here: its bytes join the set, and its ']' ends the set\n
[]\n]\n|$w 2: \\n inside brackets is a backslash and the byte 'n' here, not an escape\n$w 5: \\n is the letter 'n' here, not a line feed\n
(?i)a|
\d\s\w\b\.\\n[]a-z]|
TABLE
check "a flag group after the start" 0 '{"ok":false,"error":"unexpected '"'?'"'"}'"$nl" \
  "$w 1: (?i) is a flag group after the start: flags count only in one group at the very start of the pattern, so here it is an error$nl" \
  -- validate 'a(?i)b'
check "a flag group of another dialect" 0 '{"ok":false,"error":"unexpected '"'?'"'"}'"$nl" \
  "$w 0: (?x) is not known here: the only flag group is one of i, m and s at the very start of the pattern, such as (?i) or (?ms)$nl" \
  -- validate '(?x)a'
check "a warning leaves test's answer alone" 0 '{"matches":[{"start":1,"end":2,"text":"n","groups":[]}]}'"$nl" \
  "$w 0: \\n is the letter 'n' here, not a line feed$nl" -- test '\n' 'an'
check "replace warns too" 0 '{"result":"aN","count":1}'"$nl" \
  "$w 0: \\n is the letter 'n' here, not a line feed$nl" -- replace '\n' N 'an'

# --- lint and explain ----------------------------------------------------------
check "lint without findings" 0 '{"findings":[]}'"$nl" "" -- lint --json 'a\w+\s'
check "lint finds a dead alternative" 1 '{"findings":[{"code":"shadowed-alternative","effect":"dead","start":2,"end":4,"message":"`ab` is never used: `a` before it always matches where it could"}]}'"$nl" "" -- lint --json 'a|ab'
check "lint of an invalid pattern" 2 '{"error":{"message":"unexpected '"'?'"'","offset":2,"hint":"(?i) is a flag group after the start: flags count only in one group at the very start of the pattern, so here it is an error"}}'"$nl" "" -- lint --json 'a(?i)b'
check "lint for people" 1 "x|x$nl  ^$nl""dead (shadowed-alternative): \`x\` is never used: \`x\` before it always matches where it could$nl" "" -- lint 'x|x'
check "lint needs one pattern" 2 "" "*" -- lint
check "explain as JSON" 0 '{"tree":{"kind":"pattern","start":0,"end":2,"text":"a*","description":"the pattern: tried at each start position from the left; the first position where it matches wins, and every part keeps the first match it finds","children":[{"kind":"repeat","start":0,"end":2,"text":"a*","description":"0 or more times: as many as possible, and never gives one back","children":[{"kind":"literal","start":0,"end":1,"text":"a","description":"the byte `a`","children":[]}]}]}}'"$nl" "" -- explain --json 'a*'
check "explain of an invalid pattern" 2 "a)$nl ^$nl""trailing junk at ')'$nl" "" -- explain 'a)'
check "test warns of a pattern that never matches" 1 '{"matches":[]}'"$nl" \
  "kelvaron-regex: warning: pattern byte 0: \`.*\` takes all it can and never gives a byte back, so \`x\` after it can never match: the pattern can never match$nl" \
  -- test '.*x' 'abxx'

# --- the marker view: display width ------------------------------------------
esc=$'\033'
check "markers after wide characters" 0 \
"     1  中文bc
            ^~
1 match
  #1 [6,8) \"bc\"
" "" -- test -H 'bc' '中文bc'
check "a wide character is marked over both its columns" 0 \
"     1  a中b
         ^~
1 match
  #1 [1,4) \"中\"
" "" -- test -H '中' 'a中b'
cafe=$'cafe\xcc\x81 e'  # e and a combining acute accent
check "combining marks take no column" 0 \
"     1  $cafe
           ^ ^
2 matches
  #1 [3,4) \"e\"
  #2 [7,8) \"e\"
" "" -- test -H 'e' "$cafe"
check "an invalid byte is shown as its escape" 0 \
"     1  \\xffb
            ^
1 match
  #1 [1,2) \"b\"
" "" -- test -H 'b' $'\xffb'
check "a boundary inside a character shows its bytes" 0 \
"     1  \\xc3\\xa9
            ^~~~
1 match
  #1 [1,2) \"\\xa9\"
" "" -- test -H $'\xa9' 'é'
check "colour marks the matched text" 0 \
"     1  a${esc}[01;31mb${esc}[mc
         ^
1 match
  #1 [1,2) \"b\"
" "" -- test -H --color=always 'b' 'abc'
check "no colour when not asked" 0 "     1  abc$nl         ^${nl}1 match$nl  #1 [1,2) \"b\"$nl" "" \
  -- test -H --color=never 'b' 'abc'
check "no colour through a pipe by default" 0 "     1  abc$nl         ^${nl}1 match$nl  #1 [1,2) \"b\"$nl" "" \
  -- test -H 'b' 'abc'

# --- grep -----------------------------------------------------------------------
printf 'an error here\nfine\nerror error\nlast error' >"$tmp/g1.txt"
printf 'x\nerror\n\n' >"$tmp/g2.txt"
g1=$tmp/g1.txt g2=$tmp/g2.txt
check "grep prints the matching lines" 0 "an error here${nl}error error${nl}last error$nl" "" -- grep error "$g1"
check "grep reads standard input" 0 "b1${nl}b3$nl" "" --stdin "b1${nl}a2${nl}b3$nl" -- grep b
check "grep -" 0 "(standard input):b1$nl" "" --stdin "b1${nl}" -- grep -H b -
check "grep names files when there are several" 0 "$g1:error error$nl$g2:error$nl" "" -- grep '^error' "$g1" "$g2"
check "grep -h" 0 "error error${nl}error$nl" "" -- grep -h '^error' "$g1" "$g2"
check "grep -H" 0 "$g1:2:fine$nl" "" -- grep -H -n fine "$g1"
check "-H before the command word belongs to grep" 0 "$g1:fine$nl" "" -- -H grep fine "$g1"
check "grep -n" 0 "1:an error here${nl}3:error error${nl}4:last error$nl" "" -- grep -n error "$g1"
check "grep -c" 0 "3$nl" "" -- grep -c error "$g1"
check "grep -c, several files" 0 "$g1:3$nl$g2:1$nl" "" -- grep -c error "$g1" "$g2"
check "grep -v" 0 "fine$nl" "" -- grep -v error "$g1"
check "grep -cv counts the empty line" 0 "2$nl" "" -- grep -cv error "$g2"
check "grep -o" 0 "error${nl}error${nl}error${nl}error$nl" "" -- grep -o 'er+or' "$g1"
check "grep -on" 0 "1:err${nl}1:er${nl}3:err${nl}3:err${nl}4:err$nl" "" -- grep -on 'er+' "$g1"
check "grep -o prints no empty match" 0 "" "" -- grep -o 'z*' "$g2"
check "grep -ov prints nothing" 0 "" "" -- grep -ov error "$g1"
check "grep -c -o counts lines" 0 "3$nl" "" -- grep -c -o error "$g1"
k="${esc}[K"
check "grep --color=always" 0 \
  "${esc}[35m$k$g2${esc}[m$k${esc}[36m$k:${esc}[m$k${esc}[32m${k}2${esc}[m$k${esc}[36m$k:${esc}[m$k${esc}[01;31m${k}er${esc}[m${k}ror$nl" "" \
  -- grep -Hn --color=always 'er' "$g2"
check "grep --color=always -o" 0 "${esc}[01;31m${k}fi${esc}[m$k$nl" "" -- grep -o --color=always 'fi' "$g1"
check "grep: GREP_COLOR is read, with grep's warning" 0 "${esc}[7m${k}fi${esc}[m${k}ne$nl" \
  "kelvaron-regex: warning: GREP_COLOR='7' is deprecated; use GREP_COLORS='mt=7'$nl" \
  --env GREP_COLOR=7 -- grep --color=always fi "$g1"
check "grep --color=never" 0 "fine$nl" "" -- grep --color=never fine "$g1"
check "grep without a match exits 1" 1 "" "" -- grep zzz "$g1"
check "grep -c without a match" 1 "0$nl" "" -- grep -c zzz "$g1"
check "grep with an invalid pattern" 2 "" "kelvaron-regex: invalid pattern: unclosed group$nl" -- grep '(a' "$g1"
check "grep with an invalid pattern and no input" 2 "" \
  "kelvaron-regex: invalid pattern: unexpected '*'$nl" -- grep '*' /dev/null
check "grep goes on past a missing file" 2 "$g1:fine$nl" \
  "kelvaron-regex: $tmp/none.txt: No such file or directory$nl" -- grep fine "$tmp/none.txt" "$g1"
check "grep warns of dialect traps" 1 "" "$w 0: \\t is the letter 't' here, not a tab$nl" -- grep '\t' "$g2"
{ yes x | head -n 200000; printf 'a%.0s' $(seq 1500); printf '\nb\n'; } >"$tmp/late-fail.txt"
check "grep: a failed line far into a file is named by its number" 2 "b$nl" \
  "kelvaron-regex: $tmp/late-fail.txt:200001: backtracking limit reached$nl" -- grep '(?:a|b){0,5000}c|b' "$tmp/late-fail.txt"
check "grep: a failed line is an error, the others are searched" 2 "b$nl" \
  "kelvaron-regex: (standard input):1: backtracking limit reached$nl" \
  --stdin "$(printf 'a%.0s' $(seq 1500))${nl}b$nl" -- grep '(?:a|b){0,5000}c|b'
printf 'ab\0cd\nxb\ncd\0b\n' >"$tmp/nul.txt"
check "grep: a binary file that matches is named on standard error" 0 "" \
  "kelvaron-regex: $tmp/nul.txt: binary file matches$nl" -- grep b "$tmp/nul.txt"
check "grep -a: NUL bytes are bytes of their lines" 0 "@file:$tmp/nul.txt" "" -- grep -a b "$tmp/nul.txt"
{ head -c 10485761 /dev/zero | tr '\0' 'a'; printf '\nab\n'; } >"$tmp/long.txt"
check "grep: a line above the text limit is an error" 2 "ab$nl" \
  "kelvaron-regex: $tmp/long.txt:1: text exceeds 10485760 bytes$nl" -- grep b "$tmp/long.txt"
check "grep needs a pattern" 2 "" "*" -- grep
check "grep takes no --human" 2 "" "*" -- grep --human a "$g1"
check "grep: a bad --color" 2 "" "*" -- grep --color=sometimes a "$g1"
check "grep: an unknown flag" 2 "" "*" -- grep -P a "$g1"
check "grep: a flag without its value" 2 "" "*" -- grep a "$g1" -m
check "grep: a bad count" 2 "" "*" -- grep -A x a "$g1"
check "grep: an ambiguous long option" 2 "" "*" -- grep --co a "$g1"
check "grep -f of a missing file" 2 "" "kelvaron-regex: $tmp/none.txt: No such file or directory$nl" \
  -- grep -f "$tmp/none.txt" "$g1"
check "grep: an invalid pattern among several" 2 "" "kelvaron-regex: invalid pattern: unclosed group$nl" \
  -- grep -e fine -e '(a' "$g1"
check "grep -F takes any text" 0 "x(a$nl" "" --stdin "x(a${nl}y$nl" -- grep -F '(a'
check "grep -i joins a pattern's own flag group" 0 "A-B${nl}a_b$nl" "" --stdin "A-B${nl}a_b${nl}c$nl" \
  -- grep -i '(?s)^a.b$'
check "grep: patterns with and without (?i)" 2 "" "*" -- grep -e '(?i)a' -e b "$g1"
check "grep: the same patterns with -i" 0 "an error here${nl}last error$nl" "" -- grep -i -e '(?i)AN' -e ST "$g1"
check "grep: a folder without -r" 2 "" "kelvaron-regex: $tmp: Is a directory$nl" -- grep a "$tmp"
check "grep -s: no message for a folder" 2 "" "" -- grep -s a "$tmp"
check "test takes no grep flags" 2 "" "*" -- test -c a b
check "validate takes no --file" 2 "" "*" -- validate --file "$g1" a

# --color=auto on a terminal (a pseudo-terminal made by script(1)): colour
# unless TERM is dumb.
if command -v script >/dev/null; then
  # term | wanted output (the terminal ends lines with CR LF)
  while IFS='|' read -r term want; do
    cases=$((cases + 1))
    printf -v want '%b' "$want"
    got=$(TERM=$term script -qec "'$cli' grep er '$g2'" /dev/null </dev/null | od -An -c | tr -s ' \n' ' ')
    want=$(printf '%s' "$want" | od -An -c | tr -s ' \n' ' ')
    if [ "$got" != "$want" ]; then
      failures=$((failures + 1))
      echo "FAIL: grep --color=auto on a terminal with TERM=$term: got$got, wanted$want" >&2
    fi
  done <<'TABLE'
xterm|\033[01;31m\033[Ker\033[m\033[Kror\r\n
dumb|error\r\n
TABLE
fi

# --- the command line itself ------------------------------------------------
check "no command" 2 "" "*" --
check "unknown command" 2 "" "*" -- frobnicate a
check "unknown option" 2 "" "*" -- test -x a
check "--version" 0 "kelvaron-regex $version$nl" "" -- --version
cases=$((cases + 1))
if ! "$cli" --help >"$tmp/help" 2>"$tmp/err" || [ -s "$tmp/err" ] ||
   ! grep -q 'NUL byte' "$tmp/help" || ! grep -q 'generate --json FILE' "$tmp/help" ||
   ! grep -q -- '--human' "$tmp/help"; then
  failures=$((failures + 1))
  echo "FAIL: --help does not exit 0 with the documentation on standard output" >&2
fi
cases=$((cases + 1))
if ! "$cli" grep --help >"$tmp/help" 2>"$tmp/err" || [ -s "$tmp/err" ] ||
   ! grep -q -- '--word-regexp' "$tmp/help" || ! grep -q 'first end' "$tmp/help" ||
   ! grep -q 'binary file matches' "$tmp/help"; then
  failures=$((failures + 1))
  echo "FAIL: grep --help does not exit 0 with grep's options and the -w note on standard output" >&2
fi

echo "cli_test: $((cases - failures)) of $cases cases passed"
[ "$failures" -eq 0 ]
