"""The matches of one rx_test call, and the Match objects that view them.

rx_test answers {"matches":[{"start":S,"end":E,"text":"...","groups":[
{"index":N,"start":S,"end":E,"text":"..."},...]},...]}. Only the numbers are
read: the texts are slices of the caller's own string. The numbers go into one
flat array of 2 + 2G integers per match (G the groups the library reports,
at most 16): the match's start and end, then each group's, -1 for a group that
took no part. Match objects hold the shared record and their index, so a
million matches cost a million small objects and one array.

A rule that is easy to get wrong: a text cannot hold the bytes '{"' (a quote
inside a JSON string is always written \\"), so '{"start":' begins a match
and '{"index":' a group wherever they occur in the answer.
"""

import array
import bisect
import itertools
import json
import operator
import re as _json_scan  # reads this library's own JSON answers, nothing else
from typing import Optional, Tuple, Union

from . import _native

REPORTED_GROUPS = 16
_MATCH_START = _json_scan.compile(rb'\{"start":')
_SPAN = _json_scan.compile(rb'\{"start":(\d+,"end":\d+)')
_RECORD = _json_scan.compile(rb'\{"(?:start":(\d+),"end":(\d+)|index":(\d+),"start":(\d+),"end":(\d+))')
_CHUNK = 1 << 20  # bytes of the answer read at a time, which bounds the temporary objects
_CONTINUATION = bytes(1 if 0x80 <= b <= 0xBF else 0 for b in range(256))
_ONE = b"\x01"


def _chunks(view: memoryview):
    """(start, end) ranges of the answer, each ending where a match begins."""
    pos, size = 0, len(view)
    while pos < size:
        following = _MATCH_START.search(view, min(pos + _CHUNK, size))
        end = following.start() if following else size
        yield pos, end
        pos = end


def read_offsets(view: memoryview, groups: int) -> array.array:
    """The flat offsets of an rx_test answer, with room for `groups` groups."""
    offsets = array.array("q")
    if groups == 0:
        for start, end in _chunks(view):
            spans = _SPAN.findall(view, start, end)
            if spans:
                offsets.extend(json.loads(b"[" + b",".join(spans).replace(b'"end":', b"") + b"]"))
        return offsets
    stride = 2 + 2 * groups
    blank = array.array("q", [-1]) * stride
    base = 0
    for start, end in _chunks(view):
        for s, e, index, gs, ge in _RECORD.findall(view, start, end):
            if s:
                base = len(offsets)
                offsets.extend(blank)
                offsets[base] = int(s)
                offsets[base + 1] = int(e)
            elif int(index) <= groups:
                offsets[base + 2 * int(index)] = int(gs)
                offsets[base + 2 * int(index) + 1] = int(ge)
    return offsets


def run_test(pattern: bytes, data: bytes, groups: int, source) -> array.array:
    """rx_test's matches of pattern in data, as flat offsets."""
    view = _native.call_in_place("rx_test", pattern, data, pattern=source)
    try:
        return read_offsets(view, groups)
    finally:
        view.release()


class CharMap:
    """Byte offsets into the UTF-8 form of a str, turned into its character
    offsets. ``flags`` has a 1 for each byte that continues a character (the
    encoder's own bytes, never a byte that stands for a surrogate escape),
    and one 0 more for the offset at the end."""

    __slots__ = ("flags", "continued", "decodes")

    def __init__(self, text: str, data: bytes, strict: bool):
        # Where the text has surrogate escapes, 'replace' puts one '?' byte at
        # each, at the offsets where surrogateescape put the escaped byte.
        source = data if strict else text.encode("utf-8", "replace")
        self.flags = source.translate(_CONTINUATION) + b"\x00"
        self.continued = len(source) - len(text)  # the number of 1s
        # Whether decoding data gives the text back, so that a text is a
        # slice of data decoded: true unless the text has surrogate escapes
        # next to each other that spell a UTF-8 character.
        self.decodes = strict or data.decode("utf-8", "surrogateescape") == text

    def cut(self, offsets: array.array, stride: int) -> bool:
        """Whether any offset falls inside a character (-1 reads as outside)."""
        flags = self.flags
        if stride == 2 and self.continued * 8 < len(offsets):
            # Few continuation bytes: look each one up among the sorted offsets.
            at = flags.find(_ONE)
            while at >= 0:
                k = bisect.bisect_left(offsets, at)
                if k < len(offsets) and offsets[k] == at:
                    return True
                at = flags.find(_ONE, at + 1)
            return False
        return _ONE in bytes(map(flags.__getitem__, offsets))

    def inside(self, offset: int) -> bool:
        return self.flags[offset] == 1

    def char_start(self, offset: int) -> int:
        """The byte offset of the character that holds offset."""
        while self.flags[offset] == 1:
            offset -= 1
        return offset

    def char_end(self, offset: int) -> int:
        """The byte offset after the character that holds offset."""
        while self.flags[offset] == 1:
            offset += 1
        return offset

    def chars(self, offsets: array.array, stride: int) -> array.array:
        """Character offsets for flat offsets with matches every `stride` values.
        An offset inside a character gives that character's end."""
        count = self.flags.count
        if stride == 2:
            spans = offsets
        else:
            spans = array.array("q", bytes(len(offsets) // stride * 16))
            spans[0::2] = offsets[0::stride]
            spans[1::2] = offsets[1::stride]
        # Match starts and ends never go backwards: count the continuation
        # bytes between each one and the one before it, then add up.
        before = itertools.chain((0,), spans)
        continued = itertools.accumulate(map(count, itertools.repeat(_ONE), before, spans))
        result = array.array("q", map(operator.sub, spans, continued))
        if stride == 2:
            return result
        out = array.array("q", offsets)
        out[0::stride] = result[0::2]
        out[1::stride] = result[1::2]
        for base in range(0, len(out), stride):
            start, char_start = offsets[base], out[base]
            for at in range(base + 2, base + stride):
                if offsets[at] >= 0:
                    offset = offsets[at]
                    out[at] = char_start + (offset - start) - count(_ONE, start, offset)
        return out


def mend_cuts(offsets: array.array, stride: int, charmap: CharMap) -> array.array:
    """For a str: every span that cuts a character is widened to whole
    characters, an empty match inside a character is dropped (the library
    resumed one byte on, where a str resumes one character on), and so is a
    match that begins inside the one before it once that one is widened."""
    out = array.array("q")
    kept_end = 0
    for base in range(0, len(offsets), stride):
        start, end = offsets[base], offsets[base + 1]
        if start == end and charmap.inside(start):
            continue
        start, end = charmap.char_start(start), charmap.char_end(end)
        if start < kept_end:
            continue
        row = offsets[base:base + stride]
        row[0], row[1] = start, end
        for at in range(2, stride, 2):
            if row[at] >= 0:
                row[at], row[at + 1] = charmap.char_start(row[at]), charmap.char_end(row[at + 1])
        out.extend(row)
        kept_end = end
    return out


Subject = Union[str, bytes]


class Found:
    """The matches of one search of ``subject[pos:endpos]``.

    Offsets are kept relative to ``pos`` in bytes; ``units()`` gives them in
    the subject's units (characters of a str, bytes of bytes) and absolute,
    computed once, on first use.
    """

    __slots__ = ("re", "string", "subject", "pos", "endpos", "size", "groups", "stride", "count",
                 "first", "data", "_offsets", "_charmap", "_units")

    def __init__(self, regex, string, subject: Subject, pos: int, endpos: int, data: bytes,
                 offsets: array.array, charmap: Optional[CharMap]):
        self.re = regex
        self.string = string
        self.subject = subject
        self.pos = pos
        self.endpos = endpos
        self.size = len(data)  # bytes of the searched piece
        # For a str that is not ASCII, its UTF-8 form where it decodes back to
        # the str: texts are decoded from it, no offset turned into characters.
        self.data = data if charmap is not None and charmap.decodes else None
        self.groups = regex.groups
        self.stride = 2 + 2 * min(regex.groups, REPORTED_GROUPS)
        if charmap is not None and charmap.cut(offsets, self.stride):
            offsets = mend_cuts(offsets, self.stride, charmap)
        self.count = len(offsets) // self.stride
        # The first match's span in bytes of the searched piece, or None.
        self.first = (offsets[0], offsets[1]) if offsets else None
        self._offsets = offsets
        self._charmap = charmap
        self._units = None

    def units(self) -> array.array:
        units = self._units
        if units is None:
            units = self._offsets
            if self._charmap is not None:
                units = self._charmap.chars(units, self.stride)
            if self.pos:
                pos = self.pos
                units = array.array("q", (u + pos if u >= 0 else u for u in units))
            self._units = units
            self._charmap = None
        return units

    def byte_column(self, group: int) -> Tuple[array.array, array.array]:
        """The starts and the ends of one group in every match, in bytes of the
        searched piece (for a str: whole characters)."""
        return self._offsets[2 * group::self.stride], self._offsets[2 * group + 1::self.stride]

    def column(self, group: int) -> Tuple[array.array, array.array]:
        """The starts and the ends of one group (0: the match) in every match."""
        units = self.units()
        return units[2 * group::self.stride], units[2 * group + 1::self.stride]

    def texts(self, group: int):
        """The text of one group in every match, empty where it took no part."""
        if group > REPORTED_GROUPS:
            return [self.subject[:0]] * self.count
        # A group that took no part has the span (-1, -1): the empty slice.
        if self.data is not None:
            pieces = map(self.data.__getitem__, map(slice, *self.byte_column(group)))
            return list(map(bytes.decode, pieces, itertools.repeat("utf-8"), itertools.repeat("surrogateescape")))
        starts, ends = self.column(group)
        return list(map(self.subject.__getitem__, map(slice, starts, ends)))

    def matches(self):
        """An iterator of the Match objects, made as they are taken."""
        return map(Match, itertools.repeat(self, self.count), range(self.count))


class Match:
    """One match, as ``re.Match``: ``group``, ``groups``, ``span``, ``start``,
    ``end``, ``m[i]``, ``string``, ``re``, ``pos`` and ``endpos``.

    Offsets are characters for a str and bytes for bytes; groups that took no
    part give None and the span (-1, -1). The library reports groups 1 to 16:
    a group above 16 reads as one that took no part.
    """

    __slots__ = ("_found", "_index")

    def __init__(self, found: Found, index: int):
        self._found = found
        self._index = index

    @property
    def string(self):
        return self._found.string

    @property
    def re(self):
        return self._found.re

    @property
    def pos(self) -> int:
        return self._found.pos

    @property
    def endpos(self) -> int:
        return self._found.endpos

    def _number(self, group) -> int:
        if type(group) is not int:
            try:
                group = operator.index(group)
            except TypeError:
                raise IndexError("no such group") from None
        if not 0 <= group <= self._found.groups:
            raise IndexError("no such group")
        return group

    def span(self, group=0) -> Tuple[int, int]:
        found = self._found
        if type(group) is not int or not 0 <= group <= found.groups:
            group = self._number(group)
        if group > REPORTED_GROUPS:
            return -1, -1
        units = found._units
        if units is None:
            units = found.units()
        at = self._index * found.stride + 2 * group
        start = units[at]
        return (start, units[at + 1]) if start >= 0 else (-1, -1)

    def start(self, group=0) -> int:
        return self.span(group)[0]

    def end(self, group=0) -> int:
        return self.span(group)[1]

    def _text(self, group, default=None):
        start, end = self.span(group)
        return self._found.subject[start:end] if start >= 0 else default

    def group(self, *groups):
        if not groups:
            return self._text(0)
        if len(groups) == 1:
            return self._text(groups[0])
        return tuple(map(self._text, groups))

    def __getitem__(self, group):
        return self._text(group)

    def groups(self, default=None) -> tuple:
        return tuple(self._text(k, default) for k in range(1, self._found.groups + 1))

    def groupdict(self, default=None) -> dict:
        """Always empty: the pattern language has no named groups."""
        return {}

    def __repr__(self) -> str:
        return f"<kelvaron_regex.Match object; span={self.span()!r}, match={self._text(0)!r}>"
