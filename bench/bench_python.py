#!/usr/bin/env python3
"""The Python package against Python's re over megabytes of prose.

    python3 bench/bench_python.py [--runs N] [--size BYTES] [--rows ROW,...] [FILE]

The text is FILE, or Debian's changelogs under /usr/share/doc concatenated
and unzipped (as scripts/bench-peers.sh takes them), cut to --size bytes
(10,000,000), NUL bytes made spaces, read as UTF-8 with surrogateescape. Each
measurement runs in a fresh interpreter, the two engines in turn (re, ours,
re, ours, ...), and the table gives medians: wall seconds of the call, and
its peak memory (the process's peak resident size less its size before the
call). A ratio is ours divided by re's, taken run by run; its median is
quoted (below 1: ours is faster or smaller).

Rows (the call, with pattern \\w+ unless said):
  finditer  list(finditer(...)), the Match objects materialised
  spans     [m.span() for m in finditer(...)]
  findall   findall(...)
  sub       sub(r"\\d+", "#", text)

The package is python/ of this tree, with the library of build/ unless
KELVARON_REGEX_LIBRARY names another.
"""

import argparse
import glob
import gzip
import json
import os
import resource
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ROWS = {
    "finditer": lambda r, text: list(r.finditer(r"\w+", text)),
    "spans": lambda r, text: [m.span() for m in r.finditer(r"\w+", text)],
    "findall": lambda r, text: r.findall(r"\w+", text),
    "sub": lambda r, text: r.sub(r"\d+", "#", text),
}


def corpus(path, size: int) -> str:
    if path:
        with open(path, "rb") as f:
            data = f.read(size)
    else:
        pieces, total = [], 0
        for name in sorted(glob.glob("/usr/share/doc/*/changelog*")):
            if total >= size or not os.path.isfile(name):
                continue
            try:
                with (gzip.open if name.endswith(".gz") else open)(name, "rb") as f:
                    piece = f.read()
            except OSError:
                continue
            pieces.append(piece)
            total += len(piece)
        data = b"".join(pieces)[:size]
    return data.replace(b"\0", b" ").decode("utf-8", "surrogateescape")


def resident_kib() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def child(engine: str, row: str, path: str, size: int) -> None:
    """One measurement, printed as JSON: seconds, peak KiB, result length."""
    if engine == "re":
        import re as module
    else:
        sys.path.insert(0, os.path.join(ROOT, "python"))
        os.environ.setdefault("KELVARON_REGEX_LIBRARY", os.path.join(ROOT, "build", "libkelvaron-regex.so.0"))
        import kelvaron_regex as module
        module.compile(r"\w+")  # loading the library is not the call's cost
    text = corpus(path, size)
    before = resident_kib()
    start = time.perf_counter()
    result = ROWS[row](module, text)
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"seconds": seconds, "peak": peak - before, "items": len(result)}))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file", nargs="?")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--size", type=int, default=10_000_000)
    parser.add_argument("--rows", default=",".join(ROWS))
    parser.add_argument("--child", nargs=2, metavar=("ENGINE", "ROW"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child[0], args.child[1], args.file, args.size)
        return 0

    text = corpus(args.file, args.size)
    print(f"text: {len(text.encode('utf-8', 'surrogateescape')):,} bytes, {len(text):,} characters, "
          f"{args.runs} runs; medians\n")
    print("| row | items | re s | ours s | time ratio | re MB | ours MB | memory ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for row in args.rows.split(","):
        runs = {"re": [], "ours": []}
        for _ in range(args.runs):
            for engine in runs:
                command = [sys.executable, os.path.abspath(__file__), "--child", engine, row,
                           "--size", str(args.size)] + ([args.file] if args.file else [])
                out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
                runs[engine].append(json.loads(out))
        ours, theirs = runs["ours"], runs["re"]
        time_ratio = statistics.median(o["seconds"] / t["seconds"] for o, t in zip(ours, theirs))
        memory_ratio = statistics.median(o["peak"] / max(t["peak"], 1) for o, t in zip(ours, theirs))

        def median(results, key):
            return statistics.median(r[key] for r in results)

        items = "/".join(sorted({f"{r['items']:,}" for r in theirs + ours}))
        print(f"| {row} | {items} | {median(theirs, 'seconds'):.2f} | {median(ours, 'seconds'):.2f} "
              f"| {time_ratio:.2f} | {median(theirs, 'peak') / 1024:.0f} | {median(ours, 'peak') / 1024:.0f} "
              f"| {memory_ratio:.2f} |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
