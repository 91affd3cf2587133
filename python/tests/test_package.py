"""The package beyond the re-compatibility table: where the library is loaded
from, the version, the exceptions, threads, escape against the library's own
escaping, and the deprecated API of release 0.2."""
import os
import re
import shutil
import subprocess
import sys
import threading

import pytest

import kelvaron_regex as kr

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def test_version_is_the_projects():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        project = re.search(r"project\(kelvaron-regex VERSION (\S+)", cmake.read()).group(1)
    assert kr.__version__ == project == os.environ.get("KRX_EXPECTED_VERSION", project)


@pytest.mark.parametrize("inside, environment, loaded", [
    (True, "/nonexistent/libkelvaron-regex.so.0", "inside"),  # the package's own copy comes first
    (False, "LIBRARY", "LIBRARY"),  # then KELVARON_REGEX_LIBRARY
])
def test_where_the_library_is_loaded_from(tmp_path, inside, environment, loaded):
    copy = tmp_path / "kelvaron_regex"
    shutil.copytree(os.path.dirname(kr.__file__), copy,  # with the libraries a wheel carries beside it
                    ignore=shutil.ignore_patterns("libkelvaron-regex.so*", "__pycache__"))
    if inside:
        shutil.copy(kr.library_path, copy / "libkelvaron-regex.so.0")
    env = dict(os.environ, PYTHONPATH=str(tmp_path),
               KELVARON_REGEX_LIBRARY=environment.replace("LIBRARY", os.path.abspath(kr.library_path)))
    out = subprocess.run(
        [sys.executable, "-c", "import kelvaron_regex as k; print(k.library_path); print(k.search('b', 'ab').span())"],
        env=env, cwd=str(tmp_path), capture_output=True, text=True, check=True).stdout
    want = str(copy / "libkelvaron-regex.so.0") if loaded == "inside" else os.path.abspath(kr.library_path)
    assert out == f"{want}\n(1, 2)\n"


@pytest.mark.parametrize("reason, kind", [
    ("invalid pattern: unclosed group", kr.error),
    ("backtracking limit reached", kr.LimitError),
    ("text exceeds 10485760 bytes", kr.LimitError),
    ("out of memory", kr.OutOfMemoryError),
    ("out of memory for JSON buffer", kr.OutOfMemoryError),
    ("empty examples array", kr.Error),
])
def test_each_reason_has_its_exception(reason, kind):
    from kelvaron_regex._errors import error_for
    exc = error_for(reason)
    assert type(exc) is kind and exc.reason == str(exc) == reason and isinstance(exc, kr.Error)


def test_out_of_memory_is_a_memory_error_of_its_own_name():
    assert issubclass(kr.OutOfMemoryError, MemoryError) and kr.OutOfMemoryError().reason == ""
    namespace = {}
    exec("from kelvaron_regex import *", namespace)
    assert "MemoryError" not in namespace and "OutOfMemoryError" in namespace


def test_each_exception_carries_its_own_calls_reason():
    # Threads fail with different reasons at the same time; the process-wide
    # error text must never lend one call's reason to another.
    cases = [(lambda: kr.findall("(?:a|b){0,5000}c", "a" * 1500), "backtracking limit reached"),
             (lambda: kr.findall("b", "b" * (10 * 1024 * 1024 + 1)), "text exceeds 10485760 bytes"),
             (lambda: kr.generate(["a"] * 65), "too many examples (max 64)")]
    wrong = []

    def worker(call, reason):
        for _ in range(100):
            try:
                call()
                wrong.append("no exception")
            except kr.Error as exc:
                if exc.reason != reason:
                    wrong.append(exc.reason)
            if kr.search("b", "ab").span() != (1, 2):
                wrong.append("a wrong answer")

    threads = [threading.Thread(target=worker, args=case) for case in cases for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert wrong == []


@pytest.mark.parametrize("text", ["a.b(", "$()*+.?[\\]^{|}", "é[1] {x}|\t"])
def test_escape_is_the_librarys(text):
    # The library's pattern generation escapes the common prefix of examples
    # that do not align into tokens: ^<prefix>(!|)$.
    assert kr.generate([text, text + "!"]).pattern == "^" + kr.escape(text) + "(!|)$"


@pytest.mark.parametrize("call", [
    lambda: kr.compile(1),
    lambda: kr.generate("ab"),
    lambda: kr.generate([b"a"]),
    lambda: kr.sub("a", b"b", "a"),
])
def test_wrong_types(call):
    with pytest.raises(TypeError):
        call()


OLD_SEARCHES = [
    # pattern, text, (start, end, text, char_start, char_end, groups)
    ("a(b|c)", "ab ac", [(0, 2, b"ab", 0, 2, [(1, 1, 2, b"b", 1, 2)]), (3, 5, b"ac", 3, 5, [(1, 4, 5, b"c", 4, 5)])]),
    ("b+", "éb€bb", [(2, 3, b"b", 1, 2, []), (6, 8, b"bb", 3, 5, [])]),
    (b"\xa9", "é", [(1, 2, b"\xa9", None, 1, [])]),
    ("b", b"\xffb", [(1, 2, b"b", None, None, [])]),
    ("b", "éb".encode(), [(2, 3, b"b", 1, 2, [])]),
    ("a", "x\udcff a", [(3, 4, b"a", 3, 4, [])]),
]


@pytest.mark.parametrize("pattern, text, want", OLD_SEARCHES)
def test_search_all_is_deprecated_and_answers_as_before(pattern, text, want):
    with pytest.warns(DeprecationWarning):
        found = kr.search_all(pattern, text)
    got = [(m.start, m.end, m.text, m.char_start, m.char_end,
            [(g.index, g.start, g.end, g.text, g.char_start, g.char_end) for g in m.groups]) for m in found]
    assert got == want


def test_replace_and_the_old_names_are_deprecated():
    with pytest.warns(DeprecationWarning):
        assert kr.replace("a", "banana", "o") == kr.Replacement("bonono", 3)
    with pytest.warns(DeprecationWarning):
        assert kr.replace("b", b"a\xffb", b"c") == kr.Replacement(b"a\xffc", 1)
    with pytest.warns(DeprecationWarning):
        assert kr.MemoryError is kr.OutOfMemoryError
