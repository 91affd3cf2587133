"""The re-compatibility table: calls of the package's re-like API and their
exact answers. Each row is (name, call, expected, oracle): `call` takes the
module to use; where `oracle` is RE the dialects agree and the same call
through Python's re must give the same answer; OWN rows are this library's
own (its dialect or its extras). An expected Raises(kind, text) means the call
raises an exception of that kind whose str() is text (any text when None).

Pure Python, so that interpreters without pytest can run it: `python
compat_table.py` prints "N passed, N failed" and exits non-zero on a failure.
"""

import pickle
import re
import sys
from typing import NamedTuple, Optional

import kelvaron_regex as kr

RE, OWN = "re", "own"


class Raises(NamedTuple):
    kind: type
    text: Optional[str] = None


def spans(iterator):
    return [m.span() for m in iterator]


def _text_over_limit():
    return "a" * (10 * 1024 * 1024 + 1)


ROWS = [
    # ---- search, match, fullmatch and Match objects
    ("search groups", lambda r: r.search(r"(\w+)@(\w+)", "mail ann@example").groups(), ("ann", "example"), RE),
    ("search span", lambda r: r.search(r"(\w+)@(\w+)", "mail ann@example").span(), (5, 16), RE),
    ("search group()", lambda r: r.search(r"(\w+)@(\w+)", "mail ann@example").group(), "ann@example", RE),
    ("search group(0, 2)", lambda r: r.search(r"(\w+)@(\w+)", "a@b").group(0, 2), ("a@b", "b"), RE),
    ("search m[1]", lambda r: r.search(r"(\w+)@(\w+)", "a@b")[1], "a", RE),
    ("start and end of a group", lambda r: (r.search("(b)(c)", "abc").start(2), r.search("(b)", "abc").end(1)),
     (2, 2), RE),
    ("search none", lambda r: r.search("z", "abc"), None, RE),
    ("group that took no part", lambda r: r.search("(a)|(b)", "b").groups(), (None, "b"), RE),
    ("groups default", lambda r: r.search("(a)|(b)", "b").groups("-"), ("-", "b"), RE),
    ("span of a group that took no part", lambda r: r.search("(a)|(b)", "b").span(1), (-1, -1), RE),
    ("no such group", lambda r: r.search("(a)", "a").group(2), Raises(IndexError, "no such group"), RE),
    ("match at the start", lambda r: r.match("ab", "abc").span(), (0, 2), RE),
    ("match not at the start", lambda r: r.match("b", "ab"), None, RE),
    ("fullmatch", lambda r: r.fullmatch(r"a\w+", "abc").group(), "abc", RE),
    ("fullmatch that stops short", lambda r: r.fullmatch("ab", "abc"), None, RE),
    ("Match attributes", lambda r: (lambda p, m: (m.string, m.re is p, m.pos, m.endpos))(
        r.compile("b"), r.compile("b").search("abc", 1, 3)), ("abc", True, 1, 3), RE),
    ("repr of a Match", lambda r: repr(r.search("b+", "abb")).split(" object;")[1],
     " span=(1, 3), match='bb'>", RE),
    # ---- finditer, findall
    ("finditer", lambda r: spans(r.finditer(r"\d+", "1 22 333")), [(0, 1), (2, 4), (5, 8)], RE),
    ("empty matches", lambda r: spans(r.finditer("a*", "ab")), [(0, 1), (1, 1), (2, 2)], RE),
    ("findall without groups", lambda r: r.findall(r"\d+", "a1b22"), ["1", "22"], RE),
    ("findall with one group", lambda r: r.findall(r"(\w)=\d", "a=1 b=2"), ["a", "b"], RE),
    ("findall with groups", lambda r: r.findall("(a)|(b)", "ab"), [("a", ""), ("", "b")], RE),
    ("findall of bytes", lambda r: r.findall(rb"\w+", b"ab cd"), [b"ab", b"cd"], RE),
    ("a bytearray gives bytes", lambda r: r.search(rb"b+", bytearray(b"abb")).group(), b"bb", RE),
    # ---- sub, subn, split
    ("sub", lambda r: r.sub("a", "o", "banana"), "bonono", RE),
    ("sub with count", lambda r: r.subn("a", "o", "banana", count=2), ("bonona", 2), RE),
    ("sub of empty matches", lambda r: r.sub("x*", "-", "abxd"), "-a-b--d-", RE),
    ("sub with a function", lambda r: r.sub(r"\d+", lambda m: str(int(m[0]) * 2), "a1b22"), "a2b44", RE),
    ("sub of bytes", lambda r: r.sub(b"b", b"c", b"a\xffb"), b"a\xffc", RE),
    ("subn of bytes with count", lambda r: r.subn(b"a", b"-", b"aaa", count=2), (b"--a", 2), RE),
    ("subn of a str that is not ASCII", lambda r: r.subn("a", "o", "café bar"), ("cofé bor", 2), RE),
    ("sub: a replacement is literal", lambda r: r.sub("(a)", r"\1$1\n", "xa"), r"x\1$1\n", OWN),
    ("sub: a function must give a str", lambda r: r.sub("a", lambda m: 1, "a"), Raises(TypeError), RE),
    ("split", lambda r: r.split(",", "a,b,,c"), ["a", "b", "", "c"], RE),
    ("split with groups", lambda r: r.split("(,)|;", "a,b;c"), ["a", ",", "b", None, "c"], RE),
    ("split at empty matches", lambda r: r.split(r"\b", "a b"), ["", "a", " ", "b", ""], RE),
    ("split with maxsplit", lambda r: r.split("a", "banana", maxsplit=1), ["b", "nana"], RE),
    # ---- flags
    ("IGNORECASE", lambda r: r.findall("ab", "Ab aB", r.I), ["Ab", "aB"], RE),
    ("MULTILINE", lambda r: r.findall("^b", "b\nb", r.M), ["b", "b"], RE),
    ("DOTALL", lambda r: r.search("a.b", "a\nb", r.S).span(), (0, 3), RE),
    ("flags and a flag group", lambda r: r.findall("(?i)^a", "A\na", r.M), ["A", "a"], RE),
    ("Pattern.flags", lambda r: r.compile("(?i)a", r.M).flags, kr.I | kr.M, OWN),
    ("ASCII: \\w knows only ASCII", lambda r: r.findall(r"\w+", "café au", r.A), ["caf", "au"], RE),
    ("ASCII: IGNORECASE too", lambda r: r.findall("é", "éÉ", r.I | r.A), ["é"], RE),
    ("an unknown flag", lambda r: r.compile("a", re.X), Raises(ValueError), OWN),
    ("flags with a compiled pattern", lambda r: r.search(r.compile("a"), "a", r.I), Raises(ValueError), RE),
    # ---- pos and endpos
    ("search from pos", lambda r: r.compile("a").search("aba", 1).span(), (2, 3), RE),
    ("endpos ends the text", lambda r: r.compile("a$").search("ab", 0, 1).span(), (0, 1), RE),
    ("endpos before pos", lambda r: r.compile("").search("abc", 2, 1), None, RE),
    ("findall between pos and endpos", lambda r: r.compile(r"\d").findall("1234", 1, 3), ["2", "3"], RE),
    ("^ matches at pos", lambda r: r.compile("^b").search("ab", 1).span(), (1, 2), OWN),
    # ---- characters of a str
    ("offsets count characters", lambda r: r.search("b+", "éb€bb").span(), (1, 2), RE),
    ("group offsets count characters", lambda r: r.search(r"(\w)(x)?", "é1", r.A).span(1), (1, 2), RE),
    (". takes a whole character", lambda r: r.findall(".", "café"), ["c", "a", "f", "é"], RE),
    (". then a byte", lambda r: r.search(".b", "éb").group(), "éb", RE),
    ("sub of . over characters", lambda r: r.sub(".", "x", "aé"), "xx", RE),
    ("empty matches between characters", lambda r: r.findall("x*", "é€"), ["", "", ""], RE),
    ("sub of empty matches between characters", lambda r: r.sub("x*", "-", "é"), "-é-", RE),
    ("split at every character", lambda r: r.split("", "aé"), ["", "a", "é", ""], RE),
    (". over many characters", lambda r: r.findall(".", "é€a" * 50), list("é€a" * 50), RE),
    (". over one character among many", lambda r: r.findall(".", "a" * 99 + "é"), list("a" * 99 + "é"), RE),
    ("groups among characters", lambda r: r.search(r"(\w+) (\w+)", "é ab cd", r.A).span(2), (5, 7), RE),
    ("findall of groups among characters", lambda r: r.findall(r"(\w)(\d)?", "é1ü a", r.A), [("1", ""), ("a", "")], RE),
    ("sub with a function among characters", lambda r: r.sub("b+", lambda m: m[0].upper() + "é", "ébb b"),
     "éBBé Bé", RE),
    ("sub with count among characters", lambda r: r.subn("é", "e", "ééé", count=2), ("eeé", 2), RE),
    ("groups that cut a character are widened", lambda r: r.search("(.)(.)", "éa").groups(), ("é", "é"), OWN),
    ("surrogate escapes", lambda r: r.search("a", "x\udcff a").span(), (3, 4), RE),
    ("surrogate escapes and UTF-8", lambda r: r.search("b", "é\udcffb").span(), (2, 3), RE),
    ("surrogate escapes are bytes", lambda r: r.findall(".", "\udcc3\udca9"), ["\udcc3", "\udca9"], RE),
    ("sub over surrogate escapes", lambda r: r.sub("b", "c", "é\udcffb"), "é\udcffc", RE),
    ("escapes that spell a character", lambda r: r.findall(".", "é\udcc3\udca9b"), ["é", "\udcc3", "\udca9", "b"], RE),
    ("sub next to escapes that spell a character", lambda r: r.sub("b", "x", "é\udcc3\udca9b"), "é\udcc3\udca9x", RE),
    ("a surrogate that is no escape", lambda r: r.search("a", "\ud800"), Raises(UnicodeEncodeError), OWN),
    # ---- the dialect
    ("first end: a*ab", lambda r: r.search("a*ab", "aab"), None, OWN),
    ("first alternative: (a|ab)c", lambda r: r.search("(a|ab)c", "abc"), None, OWN),
    ("$ only at the end", lambda r: r.search("a$", "a\n"), None, OWN),
    ("\\1 is the digit 1", lambda r: r.findall(r"(a)\1", "a1"), ["a"], OWN),
    ("groups above 16 are not reported", lambda r: r.search("(a)" * 17, "a" * 17).group(17), None, OWN),
    ("a lone backslash at the end is a backslash", lambda r: r.match("a\\", "a\\b").span(), (0, 2), OWN),
    ("group count", lambda r: r.compile(r"[]()]([(])\((?:x)").groups, 1, RE),
    ("no named groups", lambda r: (r.compile("(a)").groupindex, r.search("(a)", "a").groupdict()), ({}, {}), RE),
    # ---- escape
    ("escape of the operators", lambda r: r.escape("$()*+.?[\\]^{|}"), "\\$\\(\\)\\*\\+\\.\\?\\[\\\\\\]\\^\\{\\|\\}", RE),
    ("escape keeps other characters", lambda r: r.escape("a-b é\t#"), "a-b é\t#", OWN),
    ("escape of bytes", lambda r: r.escape(b"a.\xff"), b"a\\.\xff", RE),
    ("an escaped text matches itself", lambda r: r.fullmatch(r.escape("(1+1)*[x]^{2} é? $5|\\"),
                                                             "(1+1)*[x]^{2} é? $5|\\").span(), (0, 21), RE),
    ("escaped bytes match themselves", lambda r: r.fullmatch(r.escape(bytes(range(1, 256))),
                                                             bytes(range(1, 256))).end(), 255, RE),
    # ---- errors
    ("invalid pattern", lambda r: r.compile("(a"), Raises(kr.error, "invalid pattern: unclosed group"), OWN),
    ("invalid pattern: msg", lambda r: _caught(r.error, lambda: r.compile("*")).msg, "unexpected '*'", OWN),
    ("invalid pattern: no position", lambda r: _caught(r.error, lambda: r.compile("*")).pos, None, OWN),
    ("PatternError is error", lambda r: r.PatternError is r.error and issubclass(r.error, ValueError), True, OWN),
    ("budget", lambda r: r.search("(?:a|b){0,5000}c", "a" * 1500), Raises(kr.LimitError, "backtracking limit reached"), OWN),
    ("text limit", lambda r: r.findall("a", _text_over_limit()), Raises(kr.LimitError, "text exceeds 10485760 bytes"),
     OWN),
    ("a NUL byte in the text", lambda r: r.search("a", "a\0"), Raises(ValueError), OWN),
    ("a NUL byte in a replacement", lambda r: r.sub("a", "\0", "ba"), "b\0", RE),
    ("a str pattern on bytes", lambda r: r.search("a", b"a"), Raises(TypeError), RE),
    ("a bytes pattern on a str", lambda r: r.search(b"a", "a"), Raises(TypeError), RE),
    # ---- Pattern objects
    ("compiled patterns are kept", lambda r: r.compile("k+") is r.compile("k+"), True, RE),
    ("Pattern equality", lambda r: r.compile("a", r.I) == r.Pattern("a", r.I), True, OWN),
    ("Pattern repr", lambda r: repr(r.compile("a", r.I | r.M)),
     "kelvaron_regex.compile('a', kelvaron_regex.IGNORECASE|kelvaron_regex.MULTILINE)", OWN),
    ("Pattern pickles", lambda r: pickle.loads(pickle.dumps(r.compile("a", r.I))) == r.compile("a", r.I), True, RE),
    # ---- validate and generate
    ("validate", lambda r: (r.validate("a(b|c)+"), r.validate("(a"), r.validate(b"a\xff")),
     (None, "unclosed group", None), OWN),
    ("generate", lambda r: r.generate(["2023-12-01", "2024-01-15"]),
     kr.Generated("^\\d{4}-\\d{2}-\\d{2}$", "(?x)\n^\n  \\d{4}-\\d{2}-\\d{2}\n$"), OWN),
    ("generate refuses", lambda r: r.generate([]), Raises(kr.Error, "empty examples array"), OWN),
]


def _caught(kind, call):
    try:
        call()
    except kind as exc:
        return exc
    return None


def outcome(call, module):
    """What the call gives: its value, or Raises(type, text) for an exception."""
    try:
        return call(module)
    except Exception as exc:  # noqa: BLE001 - the table names the kinds
        return Raises(type(exc), str(exc))


def judge(expected, got) -> bool:
    if isinstance(expected, Raises):
        return (isinstance(got, Raises) and issubclass(got.kind, expected.kind)
                and (expected.text is None or got.text == expected.text))
    return type(got) is type(expected) and got == expected


def main() -> int:
    passed = failed = 0
    for name, call, expected, oracle in ROWS:
        for module in (kr, re) if oracle == RE else (kr,):
            got = outcome(call, module)
            if judge(expected, got):
                passed += 1
            else:
                failed += 1
                print(f"FAIL {name} ({module.__name__}): got {got!r}, wanted {expected!r}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
