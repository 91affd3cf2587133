"""Runs the re-compatibility table (compat_table.py): every row through this
package, and the rows where the dialects agree through re as well."""
import re

import pytest
from compat_table import RE, ROWS, judge, outcome

import kelvaron_regex as kr


@pytest.mark.parametrize("call, expected, oracle", [row[1:] for row in ROWS], ids=[row[0] for row in ROWS])
def test_row(call, expected, oracle):
    got = outcome(call, kr)
    assert judge(expected, got), got
    if oracle == RE:
        got = outcome(call, re)
        assert judge(expected, got), f"re answers {got!r}"
