"""The exceptions of the package, and the one place where a reason from the
library (its rx_last_error() text) becomes one of them."""

from typing import Optional, Union

INVALID_PATTERN = "invalid pattern: "


class Error(Exception):
    """A call the library refused; ``reason`` is the library's text for it."""

    def __init__(self, reason: str = ""):
        super().__init__(reason)
        self.reason = reason


class error(Error, ValueError):  # noqa: N801 - the name re uses
    """An invalid pattern (``re.error``'s counterpart; also ``PatternError``).

    ``msg`` is the parser's message (``"unclosed group"``), ``reason`` the
    library's full text (``"invalid pattern: unclosed group"``), ``pattern``
    the pattern when known. ``pos`` is the offset in the pattern where the
    library names one, else None (its messages name none today); ``lineno``
    and ``colno`` follow from it.
    """

    def __init__(self, reason: str = "", pattern: Optional[Union[str, bytes]] = None,
                 pos: Optional[int] = None):
        super().__init__(reason)
        self.msg = reason[len(INVALID_PATTERN):] if reason.startswith(INVALID_PATTERN) else reason
        self.pattern = pattern
        self.pos = pos
        self.lineno: Optional[int] = None
        self.colno: Optional[int] = None
        if pos is not None and pattern is not None:
            newline = "\n" if isinstance(pattern, str) else b"\n"
            self.lineno = pattern.count(newline, 0, pos) + 1
            self.colno = pos - pattern.rfind(newline, 0, pos)

    @property
    def message(self) -> str:
        """The parser's message (the name of earlier releases for ``msg``)."""
        return self.msg


PatternError = error


class LimitError(Error):
    """"backtracking limit reached", or a text above the library's limit."""


class OutOfMemoryError(Error, MemoryError):
    """The library ran out of memory ("out of memory", "out of memory for JSON buffer")."""


def error_for(reason: str, pattern: Optional[Union[str, bytes]] = None) -> Error:
    """The exception for a reason the library gave."""
    if reason.startswith(INVALID_PATTERN):
        return error(reason, pattern)
    if reason == "backtracking limit reached" or reason.startswith("text exceeds "):
        return LimitError(reason)
    if reason.startswith("out of memory"):
        return OutOfMemoryError(reason)
    return Error(reason)
