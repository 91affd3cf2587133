"""The API of release 0.2, kept for one release: ``search_all`` and ``replace``
warn (DeprecationWarning) and answer as they did, with their records."""

import json
import warnings
from dataclasses import dataclass
from typing import List, Optional, Tuple, Union

from . import _native
from ._matches import REPORTED_GROUPS, CharMap, run_test
from ._pattern import encode_text, read_body, split_leading_flags

Text = Union[str, bytes]


@dataclass(frozen=True)
class Group:
    """A capture group (1 to 16) that took part in a match (search_all's)."""
    index: int
    start: int
    end: int
    text: bytes
    char_start: Optional[int] = None
    char_end: Optional[int] = None


@dataclass(frozen=True)
class Found:
    """One match of search_all: byte span, matched bytes, groups, and character
    offsets (None when the text is not UTF-8 or the offset falls inside a character)."""
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


def _arg(value: Text, what: str) -> bytes:
    if isinstance(value, str):
        data = encode_text(value)[0]
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
    else:
        raise TypeError(f"{what} must be str or bytes, not {type(value).__name__}")
    if b"\0" in data:
        raise ValueError(f"{what} holds a NUL byte (the library takes NUL-terminated strings)")
    return data


def _charmap(text: Text, data: bytes) -> Optional[CharMap]:
    """How to count characters in data, or None where they cannot be counted."""
    if isinstance(text, str):
        return CharMap(text, data, encode_text(text)[1])
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return None
    return CharMap("", data, True)


def search_all(pattern: Text, text: Text) -> List[Found]:
    """Deprecated: use finditer. Every match of pattern in text, left to right."""
    warnings.warn("kelvaron_regex.search_all is deprecated: use finditer, whose Match objects are re's",
                  DeprecationWarning, stacklevel=2)
    pattern_data, data = _arg(pattern, "pattern"), _arg(text, "text")
    groups = min(read_body(split_leading_flags(pattern_data)[1])[0], REPORTED_GROUPS)
    offsets = run_test(pattern_data, data, groups, pattern)
    stride = 2 + 2 * groups
    charmap = _charmap(text, data)
    chars = charmap.chars(offsets, stride) if charmap else None

    def char(at: int) -> Optional[int]:
        return None if chars is None or charmap.inside(offsets[at]) else chars[at]

    found = []
    for base in range(0, len(offsets), stride):
        spans = [(k, base + 2 * k) for k in range(1, groups + 1) if offsets[base + 2 * k] >= 0]
        group_records = tuple(
            Group(k, offsets[at], offsets[at + 1], data[offsets[at]:offsets[at + 1]], char(at), char(at + 1))
            for k, at in spans)
        start, end = offsets[base], offsets[base + 1]
        found.append(Found(start, end, data[start:end], group_records, char(base), char(base + 1)))
    return found


def replace(pattern: Text, text: Text, replacement: Text) -> Replacement:
    """Deprecated: use sub or subn (whose order is pattern, repl, string).
    Every match replaced by replacement, taken literally."""
    warnings.warn("kelvaron_regex.replace(pattern, text, replacement) is deprecated: "
                  "use subn(pattern, repl, string)", DeprecationWarning, stacklevel=2)
    answer = _native.call("rx_replace_preview", _arg(pattern, "pattern"), _arg(text, "text"),
                          _arg(replacement, "replacement"), pattern=pattern)
    answer = json.loads(answer.decode("utf-8", "surrogateescape"))
    result = answer["result"]
    if not isinstance(text, str):
        result = result.encode("utf-8", "surrogateescape")
    return Replacement(result, answer["count"])
