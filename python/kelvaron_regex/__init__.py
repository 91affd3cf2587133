"""kelvaron-regex for Python: the API of ``re`` over the kelvaron-regex library.

    import kelvaron_regex as kr
    kr.search(r"(\\w+)@(\\w+)", "mail ann@example").group(1)      # 'ann'
    kr.sub("a", "o", "banana")                                   # 'bonono'
    [m.span() for m in kr.finditer(r"\\d+", "1 22 333")]          # [(0, 1), (2, 4), (5, 8)]

The dialect is the library's, not ``re``'s (see the project's README):
patterns work on the UTF-8 bytes of a str; ``\\w \\d \\s \\b`` and IGNORECASE
know only ASCII; ``$`` is the end of the text only (before a line feed too
under MULTILINE); there are no back-references, look-arounds or named groups;
and every node commits to the first end it finds, so ``a*ab`` finds nothing
in "aab". A start position therefore has at most one match: ``match`` is the
first match if it starts at ``pos``, and ``fullmatch`` is that match if it
also ends at ``endpos``.

Flags: IGNORECASE, MULTILINE and DOTALL (``I M S``) become the pattern's
leading flag group; ASCII (``A``) is always in force. Offsets are characters
for a str and bytes for bytes. A match whose bytes cut a character of a str
(``.`` matches one byte) is widened to whole characters, and an empty match
inside a character is left out. A str that is not strict UTF-8 (a file read
with errors="surrogateescape") is passed with surrogateescape.

Each call runs the library over the whole (piece of the) text and answers
from all its matches, so ``search`` costs what ``finditer`` costs: iterate
``finditer`` rather than calling ``search`` again from each end.

Exceptions: ``error`` (also ``PatternError``, a ValueError) for an invalid
pattern, ``LimitError`` when the step budget or the text limit runs out,
``OutOfMemoryError`` (a MemoryError) when memory runs out, ``Error`` (their
base) for the rest. Texts and patterns may not hold a NUL byte (ValueError).
"""

import json
import warnings
from dataclasses import dataclass
from typing import List, Optional, Sequence, Union

from . import _native
from ._errors import Error, LimitError, OutOfMemoryError, PatternError, error
from ._legacy import Replacement, replace, search_all
from ._matches import Match
from ._pattern import Pattern, RegexFlag, check_valid, encode_pattern, escape

__version__ = "0.2.0"

library_path = _native.library_path
"""Where the library was loaded from (a path, or a name the loader resolved)."""

NOFLAG = RegexFlag.NOFLAG
I = IGNORECASE = RegexFlag.IGNORECASE  # noqa: E741 - re's names
M = MULTILINE = RegexFlag.MULTILINE
S = DOTALL = RegexFlag.DOTALL
A = ASCII = RegexFlag.ASCII

__all__ = [
    "compile", "search", "match", "fullmatch", "finditer", "findall", "sub", "subn", "split",
    "escape", "purge", "validate", "generate",
    "Pattern", "Match", "RegexFlag", "Generated", "Replacement",
    "NOFLAG", "I", "IGNORECASE", "M", "MULTILINE", "S", "DOTALL", "A", "ASCII",
    "error", "PatternError", "LimitError", "OutOfMemoryError", "Error",
    "search_all", "replace", "library_path", "__version__",
]

_CACHE_SIZE = 512
_cache: dict = {}


def compile(pattern: Union[str, bytes, Pattern], flags: int = 0) -> Pattern:  # noqa: A001 - re's name
    """A compiled pattern (validated by the library); compiled patterns are
    kept, as re keeps them."""
    if isinstance(pattern, Pattern):
        if flags:
            raise ValueError("cannot process flags argument with a compiled pattern")
        return pattern
    key = (type(pattern), pattern, int(flags))
    compiled = _cache.get(key)
    if compiled is None:
        compiled = Pattern(pattern, flags)
        if len(_cache) >= _CACHE_SIZE:
            try:
                del _cache[next(iter(_cache))]
            except (KeyError, StopIteration, RuntimeError):  # another thread got there first
                pass
        _cache[key] = compiled
    return compiled


def purge() -> None:
    """Forgets the compiled patterns."""
    _cache.clear()


def search(pattern, string, flags: int = 0) -> Optional[Match]:
    """The first match of pattern in string, or None."""
    return compile(pattern, flags).search(string)


def match(pattern, string, flags: int = 0) -> Optional[Match]:
    """The first match if it starts at the start of string, else None."""
    return compile(pattern, flags).match(string)


def fullmatch(pattern, string, flags: int = 0) -> Optional[Match]:
    """The match that starts at the start of string if it also ends at its end."""
    return compile(pattern, flags).fullmatch(string)


def finditer(pattern, string, flags: int = 0):
    """An iterator of every match, left to right."""
    return compile(pattern, flags).finditer(string)


def findall(pattern, string, flags: int = 0) -> list:
    """Every match's text (or group texts); see Pattern.findall."""
    return compile(pattern, flags).findall(string)


def sub(pattern, repl, string, count: int = 0, flags: int = 0):
    """string with the matches replaced by repl (a literal, or a function of
    the Match): "\\1" in a literal is a backslash and a digit."""
    return compile(pattern, flags).sub(repl, string, count)


def subn(pattern, repl, string, count: int = 0, flags: int = 0) -> tuple:
    """(new string, number of replacements); see sub."""
    return compile(pattern, flags).subn(repl, string, count)


def split(pattern, string, maxsplit: int = 0, flags: int = 0) -> list:
    """The pieces of string between the matches (and their groups)."""
    return compile(pattern, flags).split(string, maxsplit)


def validate(pattern: Union[str, bytes]) -> Optional[str]:
    """None when the pattern is acceptable, else the parser's message."""
    try:
        check_valid(encode_pattern(pattern), pattern)
    except error as exc:
        return exc.msg
    return None


@dataclass(frozen=True)
class Generated:
    """A pattern made from examples: compact, and its verbose (?x) layout."""
    pattern: str
    verbose: str


def generate(examples: Sequence[str]) -> Generated:
    """An anchored pattern that matches every example (1 to 64 strings)."""
    if isinstance(examples, (str, bytes)):
        raise TypeError("examples must be a sequence of strings, not one string")
    items: List[str] = list(examples)
    for k, item in enumerate(items):
        if not isinstance(item, str):
            raise TypeError(f"example {k} must be str, not {type(item).__name__}")
    examples_json = json.dumps(items, ensure_ascii=False).encode("utf-8", "surrogateescape")
    answer = json.loads(_native.call("rx_generate", examples_json).decode("utf-8", "surrogateescape"))
    return Generated(answer["pattern"], answer["verbose"])


for _public in (Error, error, LimitError, OutOfMemoryError, Match, Pattern, RegexFlag, Replacement):
    _public.__module__ = __name__  # as the package names them
del _public


def __getattr__(name: str):
    """Names of release 0.2 that still work, with a warning."""
    if name == "MemoryError":
        warnings.warn("kelvaron_regex.MemoryError is now OutOfMemoryError", DeprecationWarning, stacklevel=2)
        return OutOfMemoryError
    if name == "Group":
        from ._legacy import Group
        warnings.warn("kelvaron_regex.Group belongs to the deprecated search_all", DeprecationWarning,
                      stacklevel=2)
        return Group
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
