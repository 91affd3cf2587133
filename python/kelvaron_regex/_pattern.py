"""Compiled patterns (``Pattern``), their flags, and what the package reads of
the pattern syntax itself: the leading flag group, the number of capturing
groups, and literal escaping. Everything else about a pattern is the library's
parser's business: every pattern is validated by the library first.
"""

import array
import enum
import json
import operator
import sys
from typing import Optional, Tuple, Union

from . import _native
from ._errors import error
from ._matches import REPORTED_GROUPS, CharMap, Found, Match, run_test


class RegexFlag(enum.IntFlag):
    """The flags of ``compile``, with the values of ``re``'s, so ``re.I`` works
    too. ASCII is accepted and always in force: \\w, \\d, \\s, \\b and
    IGNORECASE know only ASCII."""
    NOFLAG = 0
    IGNORECASE = 2
    MULTILINE = 8
    DOTALL = 16
    ASCII = 256
    I = IGNORECASE  # noqa: E741 - re's names
    M = MULTILINE
    S = DOTALL
    A = ASCII


_SUPPORTED = int(RegexFlag.IGNORECASE | RegexFlag.MULTILINE | RegexFlag.DOTALL | RegexFlag.ASCII)
_LETTERS = ((RegexFlag.IGNORECASE, ord("i")), (RegexFlag.MULTILINE, ord("m")), (RegexFlag.DOTALL, ord("s")))

# The 14 bytes the pattern syntax reads as operators; escape() puts a backslash
# before each of them and leaves every other byte as it is.
OPERATOR_BYTES = b"$()*+.?[\\]^{|}"
_ESCAPED = {b: "\\" + chr(b) for b in OPERATOR_BYTES}


def escape(pattern: Union[str, bytes]) -> Union[str, bytes]:
    """A pattern that matches the text exactly: a backslash before each of
    ``$ ( ) * + . ? [ \\ ] ^ { | }``, every other character as it is."""
    if isinstance(pattern, str):
        return pattern.translate(_ESCAPED)
    return str(pattern, "latin-1").translate(_ESCAPED).encode("latin-1")


def split_leading_flags(pattern: bytes) -> Tuple[int, bytes]:
    """The flags of the pattern's leading flag group and the pattern after it.
    A group is "(?", one or more of i, m, s, then ")"; any other letter from
    j to r spoils it, and a spoiled group is no group (the library's rule)."""
    if not pattern.startswith(b"(?") or pattern[2:3] in (b":", b""):
        return 0, pattern
    flags, at = 0, 2
    while at < len(pattern) and ord("i") <= pattern[at] <= ord("s"):
        for flag, letter in _LETTERS:
            if pattern[at] == letter:
                flags |= flag
                break
        else:
            return 0, pattern
        at += 1
    if at == 2 or pattern[at:at + 1] != b")":
        return 0, pattern
    return flags, pattern[at + 1:]


def read_body(body: bytes) -> Tuple[int, bool]:
    """The capturing groups of a valid pattern without its flag group (each "("
    not followed by "?:", outside brackets and not after a backslash), and
    whether it ends in a lone backslash (a literal backslash). Inside brackets
    nothing is special; the set closes at the first "]" after the optional "^"
    and an optional first "]"."""
    count, at, size = 0, 0, len(body)
    while at < size:
        byte = body[at]
        if byte == 0x5C:  # backslash: the next byte is a literal
            at += 2
            continue
        if byte == 0x5B:  # "["
            at += 1
            if body[at:at + 1] == b"^":
                at += 1
            if body[at:at + 1] == b"]":
                at += 1
            at = body.index(b"]", at)
        elif byte == 0x28 and body[at + 1:at + 3] != b"?:":
            count += 1
        at += 1
    return count, at > size


def encode_pattern(pattern: Union[str, bytes]) -> bytes:
    data = pattern.encode("utf-8", "surrogateescape") if isinstance(pattern, str) else bytes(pattern)
    if b"\0" in data:
        raise error("pattern holds a NUL byte (the library takes NUL-terminated strings)", pattern)
    return data


def check_valid(data: bytes, pattern: Union[str, bytes]) -> None:
    answer = json.loads(_native.call("rx_validate", data).decode("utf-8", "surrogateescape"))
    if not answer["ok"]:
        raise error("invalid pattern: " + answer["error"], pattern)


def encode_text(text: str) -> Tuple[bytes, bool]:
    """The UTF-8 form of a str, and whether it is strict UTF-8. A str that cannot
    be (a file read with errors="surrogateescape") goes with surrogateescape."""
    try:
        return text.encode("utf-8"), True
    except UnicodeEncodeError:
        return text.encode("utf-8", "surrogateescape"), False


class Pattern:
    """A compiled pattern, as ``re.Pattern``.

    Every node of a pattern commits to the first end it finds, so a start
    position has at most one match: ``match`` is the first match if it starts
    at ``pos``, ``fullmatch`` that match if it also ends at ``endpos``.

    ``pos`` and ``endpos`` search ``string[pos:endpos]``: the library sees
    only that piece, so ``^``, ``$`` and ``\\b`` see its edges as the text's
    edges (``re``'s ``^`` does not match at a ``pos`` inside the string). The
    offsets of the matches are the string's own.
    """

    __slots__ = ("pattern", "flags", "groups", "_search", "_anchored", "_str")

    def __init__(self, pattern: Union[str, bytes], flags: int = 0):
        if not isinstance(pattern, (str, bytes)):
            raise TypeError("first argument must be string or compiled pattern")
        flags = operator.index(flags)
        if flags & ~_SUPPORTED:
            raise ValueError(f"unsupported flags {flags & ~_SUPPORTED:#x}: "
                             "only IGNORECASE, MULTILINE, DOTALL and ASCII are known")
        data = encode_pattern(pattern)
        check_valid(data, pattern)
        inline, body = split_leading_flags(data)
        flags |= inline
        group = b"".join(bytes((letter,)) for flag, letter in _LETTERS if flags & flag)
        group = b"(?" + group + b")" if group else b""
        self.pattern = pattern
        self.flags = RegexFlag(flags)
        self.groups, lone_backslash = read_body(body)
        if lone_backslash:
            body += b"\\"  # a second backslash escapes the first: the same byte, safe inside a group
        self._str = isinstance(pattern, str)
        self._search = group + body
        # Anchored at the start, which only offset 0 can begin (or, under
        # MULTILINE, every line start: the first match is then checked).
        self._anchored = group + b"^(?:" + body + b")"

    @property
    def groupindex(self) -> dict:
        """Always empty: the pattern language has no named groups."""
        return {}

    # ---- the subject --------------------------------------------------------

    def _find(self, pattern: bytes, string, pos=0, endpos=sys.maxsize) -> Found:
        """Runs the library over string[pos:endpos]."""
        if self._str:
            if not isinstance(string, str):
                raise TypeError("cannot use a string pattern on a bytes-like object")
            subject = string
        else:
            if isinstance(string, str):
                raise TypeError("cannot use a bytes pattern on a string-like object")
            subject = string if type(string) is bytes else bytes(memoryview(string))
        size = len(subject)
        pos = min(max(operator.index(pos), 0), size)
        endpos = min(max(operator.index(endpos), 0), size)
        piece = subject[pos:endpos] if pos or endpos < size else subject
        charmap = None
        if self._str:
            data, strict = encode_text(piece)
            if len(data) != len(piece):
                charmap = CharMap(piece, data, strict)
        else:
            data = piece
        if b"\0" in data:
            raise ValueError("the text holds a NUL byte (the library takes NUL-terminated strings)")
        if endpos < pos:
            offsets = array.array("q")
        else:
            offsets = run_test(pattern, data, min(self.groups, REPORTED_GROUPS), self.pattern)
        return Found(self, string, subject, pos, endpos, data, offsets, charmap)

    # ---- searching ----------------------------------------------------------

    def search(self, string, pos: int = 0, endpos: int = sys.maxsize) -> Optional[Match]:
        """The first match in string[pos:endpos], or None."""
        found = self._find(self._search, string, pos, endpos)
        return Match(found, 0) if found.count else None

    def match(self, string, pos: int = 0, endpos: int = sys.maxsize) -> Optional[Match]:
        """The first match if it starts at pos (a start has at most one match)."""
        found = self._find(self._anchored, string, pos, endpos)
        return Match(found, 0) if found.count and found.first[0] == 0 else None

    def fullmatch(self, string, pos: int = 0, endpos: int = sys.maxsize) -> Optional[Match]:
        """The match that starts at pos if it also ends at endpos, else None."""
        found = self._find(self._anchored, string, pos, endpos)
        return Match(found, 0) if found.count and found.first == (0, found.size) else None

    def finditer(self, string, pos: int = 0, endpos: int = sys.maxsize):
        """An iterator of every match, left to right (after an empty match the
        search goes on one character further: one byte for bytes)."""
        return self._find(self._search, string, pos, endpos).matches()

    def findall(self, string, pos: int = 0, endpos: int = sys.maxsize) -> list:
        """Every match's text; with one group, that group's text; with several,
        tuples of them ("" for a group that took no part)."""
        found = self._find(self._search, string, pos, endpos)
        if self.groups <= 1:
            return found.texts(self.groups)
        return list(zip(*(found.texts(k) for k in range(1, self.groups + 1))))

    def split(self, string, maxsplit: int = 0) -> list:
        """The pieces of string between the matches, each match's groups between
        them (None for a group that took no part); at most maxsplit splits."""
        found = self._find(self._search, string)
        subject = found.subject
        starts, ends = found.column(0)
        columns = [found.column(k) for k in range(1, min(self.groups, REPORTED_GROUPS) + 1)]
        missing = [None] * max(self.groups - REPORTED_GROUPS, 0)
        pieces, last = [], 0
        splits = found.count if maxsplit <= 0 else min(maxsplit, found.count)
        for i in range(splits):
            pieces.append(subject[last:starts[i]])
            pieces.extend(subject[s[i]:e[i]] if s[i] >= 0 else None for s, e in columns)
            pieces.extend(missing)
            last = ends[i]
        pieces.append(subject[last:])
        return pieces

    # ---- replacing ----------------------------------------------------------

    def subn(self, repl, string, count: int = 0) -> tuple:
        """(new string, number of replacements): every match (the first count
        when count > 0) replaced by repl, a function of the Match or a literal
        string. A literal is taken as it is: "\\1" or "\\n" in it are a
        backslash and a character, since the library has no group references."""
        literal = not callable(repl)
        if literal:
            repl = self._literal(repl)
            answer = self._replace_preview(repl, string) if count <= 0 else None
            if answer is not None:
                return answer
        found = self._find(self._search, string)
        # A str that is not ASCII is put together from its UTF-8 form.
        subject = found.subject if found.data is None else found.data
        starts, ends = found.column(0) if found.data is None else found.byte_column(0)
        if literal and found.data is not None:
            repl = repl.encode("utf-8", "surrogateescape")
        pieces, last = [], 0
        replaced = found.count if count <= 0 else min(count, found.count)
        for i in range(replaced):
            pieces.append(subject[last:starts[i]])
            if literal:
                pieces.append(repl)
            else:
                piece = self._literal(repl(Match(found, i)))
                pieces.append(piece if found.data is None else piece.encode("utf-8", "surrogateescape"))
            last = ends[i]
        pieces.append(subject[last:])
        result = subject[:0].join(pieces)
        return (result if found.data is None else result.decode("utf-8", "surrogateescape")), replaced

    def sub(self, repl, string, count: int = 0):
        """The string with every match (the first count when count > 0) replaced
        by repl; see subn."""
        return self.subn(repl, string, count)[0]

    def _literal(self, repl):
        if self._str:
            if not isinstance(repl, str):
                raise TypeError(f"expected str instance, {type(repl).__name__} found")
            return repl
        if isinstance(repl, str):
            raise TypeError(f"expected a bytes-like object, {type(repl).__name__} found")
        return bytes(repl)

    def _replace_preview(self, repl, string):
        """rx_replace_preview's (result, count), or None where its answer could
        differ from the matches' (a str that is not ASCII, whose matches may cut
        characters; a replacement that is not strict UTF-8 or holds a NUL)."""
        if self._str:
            if not isinstance(string, str) or not string.isascii():
                return None
            try:
                data, replacement = string.encode("ascii"), repl.encode("utf-8")
            except UnicodeEncodeError:
                return None
        elif isinstance(string, str):
            return None
        else:
            data, replacement = bytes(memoryview(string)), repl
        if b"\0" in replacement or b"\0" in data:
            return None
        answer = _native.call("rx_replace_preview", self._search, data, replacement, pattern=self.pattern)
        answer = json.loads(answer.decode("utf-8", "surrogateescape"))
        result = answer["result"]
        if not self._str:
            result = result.encode("utf-8", "surrogateescape")
        return result, answer["count"]

    # ---- the object ---------------------------------------------------------

    def __repr__(self) -> str:
        names = [f"kelvaron_regex.{flag.name}" for flag in
                 (RegexFlag.IGNORECASE, RegexFlag.MULTILINE, RegexFlag.DOTALL, RegexFlag.ASCII)
                 if self.flags & flag]
        return f"kelvaron_regex.compile({self.pattern!r}{', ' + '|'.join(names) if names else ''})"

    def __eq__(self, other) -> bool:
        if not isinstance(other, Pattern):
            return NotImplemented
        return (self.pattern, self.flags) == (other.pattern, other.flags)

    def __hash__(self) -> int:
        return hash((self.pattern, int(self.flags)))

    def __reduce__(self):
        return Pattern, (self.pattern, int(self.flags))
