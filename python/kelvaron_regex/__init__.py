"""Python bindings of kelvaron-regex, a small regular-expression library.

The library is loaded with ctypes, from the first of:

1. the path in the environment variable ``KELVARON_REGEX_LIBRARY``;
2. a copy beside this package (``libkelvaron-regex.so.0``,
   ``libkelvaron-regex.so`` or ``kelvaron-regex.dll`` in its folder);
3. the system's (``libkelvaron-regex.so.0`` through the dynamic loader,
   ``kelvaron-regex.dll`` on Windows).

Patterns, texts and replacements may be ``str`` (passed as UTF-8) or
``bytes`` (passed as they are); the library works on bytes. Offsets are byte
offsets, ends exclusive; for text that is UTF-8 (every ``str``, and ``bytes``
that decode as UTF-8) matches and groups also carry character offsets.

A refused call raises an exception that carries the library's reason:
``PatternError`` for an invalid pattern, ``LimitError`` when the step budget
or the text limit runs out, ``MemoryError`` when memory runs out, ``Error``
for the rest (such as the examples of ``generate``).

The library keeps one error text for the whole process. Each call and its
reading of that text happen under one lock, so an exception always carries
the reason of its own call. (Answers are copied as the call returns.)
"""

import builtins
import ctypes
import ctypes.util
import json
import os
import threading
from dataclasses import dataclass
from typing import Iterable, List, Optional, Sequence, Tuple, Union

__all__ = [
    "Error", "PatternError", "LimitError", "MemoryError",
    "Group", "Match", "Replacement", "Generated",
    "validate", "search_all", "replace", "generate",
    "library_path", "__version__",
]

__version__ = "0.2.0"

Text = Union[str, bytes]


class Error(Exception):
    """A call the library refused; ``reason`` is its rx_last_error() text."""

    def __init__(self, reason: str):
        super().__init__(reason)
        self.reason = reason


class PatternError(Error, ValueError):
    """An invalid pattern; ``message`` is the parser's message alone."""

    def __init__(self, reason: str):
        super().__init__(reason)
        self.message = reason[len(_INVALID_PATTERN):] if reason.startswith(_INVALID_PATTERN) else reason


class LimitError(Error):
    """"backtracking limit reached", or a text above the library's limit."""


class MemoryError(Error, builtins.MemoryError):  # noqa: A001 - the name users expect
    """The library ran out of memory ("out of memory", "out of memory for JSON buffer")."""


_INVALID_PATTERN = "invalid pattern: "


def _error_for(reason: str) -> Error:
    if reason.startswith(_INVALID_PATTERN):
        return PatternError(reason)
    if reason == "backtracking limit reached" or reason.startswith("text exceeds "):
        return LimitError(reason)
    if reason.startswith("out of memory"):
        return MemoryError(reason)
    return Error(reason)


# ---- loading the library ------------------------------------------------------

_BESIDE = ("kelvaron-regex.dll",) if os.name == "nt" else (
    "libkelvaron-regex.so.0", "libkelvaron-regex.so")


def _find_library() -> str:
    env = os.environ.get("KELVARON_REGEX_LIBRARY")
    if env:
        return env
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _BESIDE:
        candidate = os.path.join(here, name)
        if os.path.exists(candidate):
            return candidate
    if os.name == "nt":
        return "kelvaron-regex.dll"
    return ctypes.util.find_library("kelvaron-regex") or "libkelvaron-regex.so.0"


library_path = _find_library()
"""Where the library was loaded from (a path, or a name the loader resolved)."""

try:
    _lib = ctypes.CDLL(library_path)
except OSError as exc:  # pragma: no cover - depends on the machine
    raise ImportError(
        f"kelvaron_regex: cannot load the library {library_path!r} ({exc}); "
        "set KELVARON_REGEX_LIBRARY to its path") from exc

for _name, _count in (("rx_validate", 1), ("rx_test", 2), ("rx_replace_preview", 3),
                      ("rx_generate", 1), ("rx_last_error", 0)):
    _fn = getattr(_lib, _name)
    _fn.argtypes = [ctypes.c_char_p] * _count
    _fn.restype = ctypes.c_char_p  # the answer is copied into bytes at once

_lock = threading.Lock()


def _arg(value: Text, what: str) -> bytes:
    if isinstance(value, str):
        data = value.encode("utf-8", "surrogateescape")
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
    else:
        raise TypeError(f"{what} must be str or bytes, not {type(value).__name__}")
    if b"\0" in data:
        raise ValueError(f"{what} holds a NUL byte (the library takes NUL-terminated strings)")
    return data


def _call(name: str, *args: bytes):
    """Calls one export and reads its JSON answer; raises on NULL."""
    fn = getattr(_lib, name)
    with _lock:
        answer = fn(*args)
        reason = None if answer is not None else _lib.rx_last_error()
    if answer is None:
        raise _error_for(reason.decode("utf-8", "replace"))
    return json.loads(answer.decode("utf-8", "surrogateescape"))


# ---- results ------------------------------------------------------------------

@dataclass(frozen=True)
class Group:
    """A capture group (1 to 16) that took part in a match."""
    index: int
    start: int
    end: int
    text: bytes
    char_start: Optional[int] = None
    char_end: Optional[int] = None


@dataclass(frozen=True)
class Match:
    """One match: byte span, matched bytes, groups, and character offsets
    (None when the text is not UTF-8 or the offset falls inside a character)."""
    start: int
    end: int
    text: bytes
    groups: Tuple[Group, ...] = ()
    char_start: Optional[int] = None
    char_end: Optional[int] = None

    def group(self, index: int) -> Optional[Group]:
        """The group with this number, or None when it took no part."""
        for g in self.groups:
            if g.index == index:
                return g
        return None


@dataclass(frozen=True)
class Replacement:
    """The replaced text (str for str input, bytes for bytes) and the count."""
    text: Text
    count: int


@dataclass(frozen=True)
class Generated:
    """A pattern made from examples: compact, and its verbose (?x) layout."""
    pattern: str
    verbose: str


def _char_offsets(data: bytes, offsets: Iterable[int]) -> dict:
    """Character offset of each byte offset that starts a character of the
    UTF-8 text data (or is its end); offsets inside a character are left out."""
    result = {}
    chars = 0
    previous = 0
    for off in sorted(set(offsets)):
        if off < len(data) and 0x80 <= data[off] <= 0xBF:
            continue  # inside a character
        chars += len(data[previous:off].decode("utf-8"))
        previous = off
        result[off] = chars
    return result


def _is_utf8(data: bytes) -> bool:
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


# ---- the functions ------------------------------------------------------------

def validate(pattern: Text) -> Optional[str]:
    """None when the pattern is acceptable, else the parser's message."""
    answer = _call("rx_validate", _arg(pattern, "pattern"))
    return None if answer["ok"] else answer["error"]


def search_all(pattern: Text, text: Text) -> List[Match]:
    """Every match of pattern in text, left to right."""
    data = _arg(text, "text")
    answer = _call("rx_test", _arg(pattern, "pattern"), data)
    spans = answer["matches"]
    chars = {}
    if isinstance(text, str) or _is_utf8(data):
        offsets = [o for m in spans for o in (m["start"], m["end"])]
        offsets += [o for m in spans for g in m["groups"] for o in (g["start"], g["end"])]
        chars = _char_offsets(data, offsets)
    matches = []
    for m in spans:
        groups = tuple(
            Group(g["index"], g["start"], g["end"], data[g["start"]:g["end"]],
                  chars.get(g["start"]), chars.get(g["end"]))
            for g in m["groups"])
        matches.append(Match(m["start"], m["end"], data[m["start"]:m["end"]], groups,
                             chars.get(m["start"]), chars.get(m["end"])))
    return matches


def replace(pattern: Text, text: Text, replacement: Text) -> Replacement:
    """Every match replaced by replacement, taken literally."""
    answer = _call("rx_replace_preview", _arg(pattern, "pattern"), _arg(text, "text"),
                   _arg(replacement, "replacement"))
    result = answer["result"]
    if not isinstance(text, str):
        result = result.encode("utf-8", "surrogateescape")
    return Replacement(result, answer["count"])


def generate(examples: Sequence[str]) -> Generated:
    """An anchored pattern that matches every example (1 to 64 strings)."""
    if isinstance(examples, (str, bytes)):
        raise TypeError("examples must be a sequence of strings, not one string")
    items = list(examples)
    for k, item in enumerate(items):
        if not isinstance(item, str):
            raise TypeError(f"example {k} must be str, not {type(item).__name__}")
    examples_json = json.dumps(items, ensure_ascii=False).encode("utf-8", "surrogateescape")
    answer = _call("rx_generate", examples_json)
    return Generated(answer["pattern"], answer["verbose"])


del _name, _count, _fn
