"""Measures the Python package beside boolconv-cli in the same run:

  - convert_many over a file of typical one-line strategies (about 150 bytes
    each), opened in binary and handed over whole (target: within 1.5x of
    boolconv-cli's time on the same file), and over its lines as a Python
    loop reads them (for comparison);
  - what one convert() call costs above the engine's own time for the same
    expression (target: at most 1 microsecond);
  - peak memory while streaming the file several times over, which would
    hold gigabytes as results: it must stay flat.

Usage: PYTHONPATH=<build>/python /usr/bin/python3 bench/python_bench.py BUILD_DIR [LINES]
"""

from __future__ import annotations

import itertools
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import boolconv
from boolconv import _boolconv

RUNS = 3
MAX_TIMES_TOOL = 1.5
MAX_CALL_OVERHEAD_US = 1.0
STREAM_PASSES = 5
MAX_PEAK_GROWTH_MB = 50


def verdict(ok: bool) -> str:
    return "ok" if ok else "MISSED"


def peak_mb() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def convert_file(path: str, lines_of_file: bool) -> int:
    """Converts every line of the file, touching each result; the count.
    The file itself, or its lines as Python iterates them."""
    count = 0
    with open(path, "rb", buffering=1 << 20) as file:
        expressions = file if lines_of_file else (line[:-1] for line in file)
        for result in boolconv.convert_many(expressions):
            count += len(result.operator_form) > 0
    return count


def main() -> int:
    build = sys.argv[1]
    lines = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    cli = os.path.join(build, "cli", "boolconv-cli")
    generator = os.path.join(build, "bench", "boolfuncs_benchmark")
    failed = False
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "typical.txt")
        with open(path, "wb") as file:
            subprocess.run([generator, "--write-typical-lines", str(lines)], stdout=file,
                           check=True)
        size = os.path.getsize(path)
        print(f"Python {sys.version.split()[0]} ({sys.executable}), boolconv {boolconv.__version__}")
        print(f"{lines} typical strategies, {size / lines - 1:.0f} bytes a line, "
              f"{os.cpu_count()} cores")

        tool_seconds: list[float] = []
        file_seconds: list[float] = []
        lines_seconds: list[float] = []
        for run in range(1, RUNS + 1):
            with open(path, "rb") as stdin:
                start = time.perf_counter()
                subprocess.run([cli], stdin=stdin, stdout=subprocess.DEVNULL, check=True)
                tool_seconds.append(time.perf_counter() - start)
            for lines_of_file, seconds in ((True, file_seconds), (False, lines_seconds)):
                start = time.perf_counter()
                assert convert_file(path, lines_of_file) == lines
                seconds.append(time.perf_counter() - start)
            print(f"  run {run}: boolconv-cli {tool_seconds[-1]:.3f} s, convert_many on the "
                  f"file {file_seconds[-1]:.3f} s, on its lines {lines_seconds[-1]:.3f} s")
        tool = statistics.median(tool_seconds)
        for name, seconds, target in (("the file", file_seconds, MAX_TIMES_TOOL),
                                      ("the file's lines from Python", lines_seconds, None)):
            ours = statistics.median(seconds)
            ratio = ours / tool
            goal = ""
            if target is not None:
                failed |= ratio > target
                goal = f" (target <= {target}x: {verdict(ratio <= target)})"
            print(f"  median, convert_many on {name}: {lines / ours:,.0f} lines/s, "
                  f"{ratio:.2f}x the time of boolconv-cli ({lines / tool:,.0f} lines/s){goal}")

        with open(path, "rb") as file:
            sample = [line[:-1] for line in itertools.islice(file, 100_000)]
        texts = [line.decode() for line in sample]
        rounds = 5
        engine = min(_boolconv._time_engine(texts, rounds) for _ in range(RUNS))
        calls = []
        for _ in range(RUNS):
            start = time.perf_counter()
            for _ in range(rounds):
                for text in texts:
                    boolconv.convert(text)
            calls.append(time.perf_counter() - start)
        per_call = min(calls) / (rounds * len(texts)) * 1e6
        per_engine = engine / (rounds * len(texts)) * 1e6
        overhead = per_call - per_engine
        failed |= overhead > MAX_CALL_OVERHEAD_US
        print(f"One convert() call on a typical strategy: {per_call:.2f} us, the engine alone "
              f"{per_engine:.2f} us: {overhead:.2f} us above it "
              f"(target <= {MAX_CALL_OVERHEAD_US} us: "
              f"{verdict(overhead <= MAX_CALL_OVERHEAD_US)})")

        before = peak_mb()
        passes = [open(path, "rb") for _ in range(STREAM_PASSES)]
        count = 0
        for result in boolconv.convert_many(line[:-1] for line in itertools.chain(*passes)):
            count += 1
            if count == lines:
                after_one = peak_mb()
        for file in passes:
            file.close()
        after_all = peak_mb()
        growth = after_all - after_one
        failed |= growth > MAX_PEAK_GROWTH_MB
        print(f"Streaming {count:,} lines ({STREAM_PASSES * size / 2**20:.0f} MB; held as "
              f"results they would take several GB): peak {before:.0f} MB before, "
              f"{after_one:.0f} MB after the first {lines:,}, {after_all:.0f} MB at the end "
              f"(growth target <= {MAX_PEAK_GROWTH_MB} MB: {verdict(growth <= MAX_PEAK_GROWTH_MB)})")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
