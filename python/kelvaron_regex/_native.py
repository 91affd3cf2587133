"""Loading the shared library and calling its exports.

The library is looked for, in this order:

1. inside the package (``libkelvaron-regex.so.0``, ``libkelvaron-regex.so``
   or ``kelvaron-regex.dll`` in its folder), as a wheel carries it; the
   libraries it needs that a wheel carries beside it (``libyyjson.so.0``) are
   loaded first, by their paths;
2. the path in the environment variable ``KELVARON_REGEX_LIBRARY``;
3. the system's (``libkelvaron-regex.so.0`` through the dynamic loader,
   ``kelvaron-regex.dll`` on Windows).

The library keeps one error text for the whole process, so each call and its
reading of that text happen under one lock: an exception always carries the
reason of its own call.
"""

import ctypes
import ctypes.util
import os
import threading
from typing import Optional, Tuple, Union

from ._errors import error_for

_HERE = os.path.dirname(os.path.abspath(__file__))
_INSIDE = ("kelvaron-regex.dll",) if os.name == "nt" else ("libkelvaron-regex.so.0", "libkelvaron-regex.so")


def _find_library() -> Tuple[str, bool]:
    """The library to load, and whether it is the package's own copy."""
    for name in _INSIDE:
        candidate = os.path.join(_HERE, name)
        if os.path.exists(candidate):
            return candidate, True
    env = os.environ.get("KELVARON_REGEX_LIBRARY")
    if env:
        return env, False
    if os.name == "nt":
        return "kelvaron-regex.dll", False
    return ctypes.util.find_library("kelvaron-regex") or "libkelvaron-regex.so.0", False


def _load_bundled_dependencies() -> None:
    """Loads the shared libraries a wheel carries beside the library (never the
    library itself), so that the loader finds them when it loads the library."""
    for name in sorted(os.listdir(_HERE)):
        if name.startswith("lib") and ".so" in name and name not in _INSIDE:
            ctypes.CDLL(os.path.join(_HERE, name))


library_path, _inside = _find_library()
try:
    if _inside and os.name != "nt":
        _load_bundled_dependencies()
    _lib = ctypes.CDLL(library_path)
except OSError as exc:  # pragma: no cover - depends on the machine
    raise ImportError(
        f"kelvaron_regex: cannot load the library {library_path!r} ({exc}); install the wheel, "
        "which carries it, or set KELVARON_REGEX_LIBRARY to its path") from exc

_ARITY = {"rx_validate": 1, "rx_test": 2, "rx_replace_preview": 3, "rx_generate": 1}
_copying = {}
_viewing = {}
for _name, _count in _ARITY.items():
    # Two views of each export: one whose answer ctypes copies into bytes at
    # once, one that leaves the answer where it is (a pointer).
    for _table, _restype in ((_copying, ctypes.c_char_p), (_viewing, ctypes.c_void_p)):
        _fn = ctypes.CFUNCTYPE(_restype, *([ctypes.c_char_p] * _count))((_name, _lib))
        _table[_name] = _fn
_last_error = ctypes.CFUNCTYPE(ctypes.c_char_p)(("rx_last_error", _lib))
_strlen = ctypes.CFUNCTYPE(ctypes.c_size_t, ctypes.c_void_p)(
    ("strlen", ctypes.cdll.msvcrt if os.name == "nt" else ctypes.CDLL(None)))
del _name, _count, _table, _restype, _fn

_lock = threading.Lock()

Text = Union[str, bytes]


def _call(table: dict, name: str, args: Tuple[bytes, ...], pattern: Optional[Text]):
    with _lock:
        answer = table[name](*args)
        reason = None if answer is not None else _last_error()
    if reason is not None:
        raise error_for(reason.decode("utf-8", "replace"), pattern)
    return answer


def call(name: str, *args: bytes, pattern: Optional[Text] = None) -> bytes:
    """The answer of one export, copied; raises with the reason on NULL."""
    return _call(_copying, name, args, pattern)


def call_in_place(name: str, *args: bytes, pattern: Optional[Text] = None) -> memoryview:
    """The answer of one export as a view of the library's buffer, not copied.
    The view is valid only until this thread's next call of the library."""
    address = _call(_viewing, name, args, pattern)
    return memoryview((ctypes.c_char * _strlen(address)).from_address(address)).cast("B")
