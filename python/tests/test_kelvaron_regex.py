"""Tests of the kelvaron_regex package against the built shared library.

Run by CTest (tests/python_test.sh): the package is pip-installed into a
temporary folder and KELVARON_REGEX_LIBRARY names the library of the build;
KRX_EXPECTED_VERSION is the project's version.
"""
import os
import shutil
import subprocess
import sys
import threading

import pytest

import kelvaron_regex as kr
from kelvaron_regex import Group, Match


def test_version_is_the_projects():
    assert kr.__version__ == os.environ["KRX_EXPECTED_VERSION"]


def test_the_library_named_by_the_environment_is_loaded():
    assert kr.library_path == os.environ["KELVARON_REGEX_LIBRARY"]


def test_a_library_beside_the_package_comes_next(tmp_path):
    package = os.path.dirname(kr.__file__)
    copy = tmp_path / "kelvaron_regex"
    shutil.copytree(package, copy)
    shutil.copy(os.environ["KELVARON_REGEX_LIBRARY"], copy / "libkelvaron-regex.so.0")
    env = dict(os.environ, PYTHONPATH=str(tmp_path))
    del env["KELVARON_REGEX_LIBRARY"]
    out = subprocess.run(
        [sys.executable, "-c",
         "import kelvaron_regex as k; print(k.library_path); print(k.search_all('b', 'ab')[0].start)"],
        env=env, cwd=str(tmp_path), capture_output=True, text=True, check=True).stdout
    assert out == f"{copy / 'libkelvaron-regex.so.0'}\n1\n"


@pytest.mark.parametrize("pattern, want", [
    ("a(b|c)+", None),
    ("(a", "unclosed group"),
    ("*", "unexpected '*'"),
    (b"a\xff", None),
])
def test_validate(pattern, want):
    assert kr.validate(pattern) == want


SEARCHES = [
    # pattern, text, matches
    ("a(b|c)", "ab ac",
     [Match(0, 2, b"ab", (Group(1, 1, 2, b"b", 1, 2),), 0, 2),
      Match(3, 5, b"ac", (Group(1, 4, 5, b"c", 4, 5),), 3, 5)]),
    ("a*", "ab", [Match(0, 1, b"a", (), 0, 1), Match(1, 1, b"", (), 1, 1),
                  Match(2, 2, b"", (), 2, 2)]),
    # character offsets count characters, byte offsets bytes
    ("b+", "éb€bb", [Match(2, 3, b"b", (), 1, 2), Match(6, 8, b"bb", (), 3, 5)]),
    (r"(\w)(x)?", "é1", [Match(2, 3, b"1", (Group(1, 2, 3, b"1", 1, 2),), 1, 2)]),
    # a match that cuts a character has no character offset there
    (b"\xa9", "é", [Match(1, 2, b"\xa9", (), None, 1)]),
    # bytes that are not UTF-8: byte offsets only
    ("b", b"\xffb", [Match(1, 2, b"b", (), None, None)]),
    # bytes that are UTF-8: character offsets too
    ("b", "éb".encode(), [Match(2, 3, b"b", (), 1, 2)]),
    ("z", "abc", []),
]


@pytest.mark.parametrize("pattern, text, want", SEARCHES)
def test_search_all(pattern, text, want):
    assert kr.search_all(pattern, text) == want


def test_match_group_lookup():
    m = kr.search_all(r"(a)|(b)", "b")[0]
    assert m.group(1) is None
    assert m.group(2) == Group(2, 0, 1, b"b", 0, 1)


@pytest.mark.parametrize("pattern, text, replacement, want", [
    ("a", "banana", "o", kr.Replacement("bonono", 3)),
    ("(a)", "a", r"$1\1", kr.Replacement(r"$1\1", 1)),
    ("z", "abc", "y", kr.Replacement("abc", 0)),
    ("é", "café", "e", kr.Replacement("cafe", 1)),
    ("b", b"a\xffb", b"c", kr.Replacement(b"a\xffc", 1)),
])
def test_replace(pattern, text, replacement, want):
    assert kr.replace(pattern, text, replacement) == want


@pytest.mark.parametrize("examples, pattern, verbose", [
    (["2023-12-01", "2024-01-15"], r"^\d{4}-\d{2}-\d{2}$", "(?x)\n^\n  \\d{4}-\\d{2}-\\d{2}\n$"),
    (["1-", "1--", "2-"], "^(1--|1-|2-)$", "(?x)\n^\n  (1--\n  |\n  1-\n  |\n  2-)\n$"),
    ([""], "^$", "(?x)\n^\n  \n$"),
])
def test_generate(examples, pattern, verbose):
    assert kr.generate(examples) == kr.Generated(pattern, verbose)


@pytest.mark.parametrize("call, kind, reason", [
    (lambda: kr.search_all("(a", "a"), kr.PatternError, "invalid pattern: unclosed group"),
    (lambda: kr.replace("*", "a", "b"), kr.PatternError, "invalid pattern: unexpected '*'"),
    (lambda: kr.search_all("(?:a|b){0,5000}c", "a" * 1500), kr.LimitError, "backtracking limit reached"),
    (lambda: kr.search_all("a", "a" * 10485761), kr.LimitError, "text exceeds 10485760 bytes"),
    (lambda: kr.generate([]), kr.Error, "empty examples array"),
    (lambda: kr.generate(["a"] * 65), kr.Error, "too many examples (max 64)"),
    (lambda: kr.generate(["a\0b"]), kr.Error, "example 0 contains a NUL byte"),
])
def test_refused_calls_raise_with_the_reason(call, kind, reason):
    with pytest.raises(kind) as info:
        call()
    assert type(info.value) is kind
    assert info.value.reason == reason
    assert str(info.value) == reason


def test_pattern_error_carries_the_parser_message():
    with pytest.raises(kr.PatternError) as info:
        kr.search_all("(a", "")
    assert info.value.message == "unclosed group"
    assert isinstance(info.value, ValueError)


def test_memory_error_is_the_builtin_kind():
    error = kr._error_for("out of memory")
    assert type(error) is kr.MemoryError
    assert isinstance(error, MemoryError) and isinstance(error, kr.Error)
    assert kr._error_for("out of memory for JSON buffer").reason == "out of memory for JSON buffer"


@pytest.mark.parametrize("call", [
    lambda: kr.search_all("a", "a\0b"),
    lambda: kr.validate(b"\0"),
    lambda: kr.replace("a", "b", "\0"),
])
def test_nul_bytes_are_refused_before_the_call(call):
    with pytest.raises(ValueError, match="NUL byte"):
        call()


@pytest.mark.parametrize("call", [
    lambda: kr.search_all(1, "a"),
    lambda: kr.generate("ab"),
    lambda: kr.generate([b"a"]),
])
def test_wrong_types(call):
    with pytest.raises(TypeError):
        call()


def test_each_exception_carries_its_own_calls_reason():
    # Threads fail with different reasons at the same time; the process-wide
    # error text must never lend one call's reason to another.
    cases = [(("(a", "a"), "invalid pattern: unclosed group"),
             (("(?:a|b){0,5000}c", "a" * 1500), "backtracking limit reached"),
             (("*", "a"), "invalid pattern: unexpected '*'")]
    wrong = []

    def worker(args, reason):
        for _ in range(200):
            try:
                kr.search_all(*args)
                wrong.append("no exception")
            except kr.Error as exc:
                if exc.reason != reason:
                    wrong.append(exc.reason)
            assert kr.search_all("b", "ab")[0].start == 1

    threads = [threading.Thread(target=worker, args=case) for case in cases for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert wrong == []
