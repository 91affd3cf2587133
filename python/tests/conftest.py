"""Makes plain `pytest python/tests` work in a checkout: where the package is
not installed, its source folder is imported, with the library of the build
(build/libkelvaron-regex.so.0) unless KELVARON_REGEX_LIBRARY names one."""
import importlib.util
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

if importlib.util.find_spec("kelvaron_regex") is None:
    sys.path.insert(0, os.path.dirname(HERE))
    built = os.path.join(ROOT, "build", "libkelvaron-regex.so.0")
    if "KELVARON_REGEX_LIBRARY" not in os.environ and os.path.exists(built):
        os.environ["KELVARON_REGEX_LIBRARY"] = built
