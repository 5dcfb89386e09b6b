"""Converts a large query log on a Dask cluster, one expression per line.

    python3 dask_log.py tcp://scheduler.example.org:8786 queries.log results/

The log is cut into blocks of whole lines; each Dask worker converts its
blocks with boolconv.convert_many and writes one JSON Lines file per block
into the output folder: results/part-00000.jsonl, part-00001.jsonl, and so
on. Concatenated in name order, the files hold exactly what
``boolconv-cli --json < queries.log`` writes: one object per line,
{"operator":...,"sign":...,"warnings":[...]} or {"error":...,"warnings":[...]}.
Results stay on the workers; the client receives only counts.

The workers must be able to import boolconv (install python3-boolconv on
each), and they must see the log and the output folder at the same paths as
this program (a shared file system).

Lines are read as boolconv-cli reads them: split at "\\n" only, without the
"\\n" and a "\\r" before it (a "\\r" elsewhere belongs to the expression); a
byte-order mark at the very start of the log is dropped. Each line is handed
to boolconv as its bytes, so a line that is not valid UTF-8 gets the same
"Not valid UTF-8" failure, at the same byte, as with boolconv-cli.
"""

from __future__ import annotations

import argparse
import logging
import os
import sys
import time
from operator import itemgetter

import boolconv
import dask
import dask.bag as db
from dask.utils import parse_bytes
from distributed import Client, get_worker

BYTE_ORDER_MARK = b"\xef\xbb\xbf"
DEFAULT_BLOCKSIZE = "32MiB"
DEFAULT_TIMEOUT = 5.0


# One block of the log, converted: the text of its JSON Lines file, the
# numbers of lines and failed lines in it, and the worker that converted it.
# (A plain tuple: cloudpickle cannot send a NamedTuple class defined here.)
PartitionResult = tuple[str, int, int, str]


def expressions(lines: list[str], at_start_of_log: bool) -> list[bytes]:
    """The log's lines as boolconv-cli reads them.

    The lines come from Dask decoded with "surrogateescape", so encoding them
    the same way gives back the log's bytes exactly, valid UTF-8 or not.
    """
    result = []
    for number, text in enumerate(lines):
        line = text.encode("utf-8", "surrogateescape")
        if number == 0 and at_start_of_log and line.startswith(BYTE_ORDER_MARK):
            line = line[len(BYTE_ORDER_MARK):]
            if not line:
                continue  # a log holding only the mark has no lines
        if line.endswith(b"\n"):
            line = line[:-2] if line.endswith(b"\r\n") else line[:-1]
        result.append(line)
    return result


def convert_partition(lines: list[str], partition_number: list[int]) -> list[PartitionResult]:
    """Converts one block of the log on a worker.

    `partition_number` is the block's number in a one-element list (a
    partition of a bag of numbers). The block's results become one string,
    so that a block without lines writes an empty file: to_textfiles writes
    "\\n" between elements, and with last_endline=True one after the last
    even in a partition that has none.
    Each worker thread runs one block at a time, so the block converts on one
    thread; the workers' threads are the parallelism.
    """
    text = []
    failures = 0
    for result in boolconv.convert_many(expressions(lines, partition_number == [0]), jobs=1,
                                        errors="return"):
        failures += isinstance(result, boolconv.ConversionError)
        text.append(boolconv.to_json(result) + "\n")
    return [("".join(text), len(text), failures, get_worker().address)]


def boolconv_on_worker() -> str | None:
    """The version of boolconv a worker imports, or None without one."""
    try:
        import boolconv as on_worker
    except ImportError:
        return None
    return on_worker.__version__


def check_workers(client: Client, timeout: float) -> str | None:
    """Why the cluster cannot convert, or None when it can."""
    try:
        client.wait_for_workers(1, timeout=timeout)
    except TimeoutError:
        return f"no worker joined the scheduler within {timeout:g} s"
    versions = client.run(boolconv_on_worker)
    missing = sorted(worker for worker, version in versions.items() if version is None)
    if missing:
        return f"boolconv cannot be imported on the workers {', '.join(missing)}"
    others = {version for version in versions.values()} - {boolconv.__version__}
    if others:
        print(f"warning: the workers have boolconv {', '.join(sorted(others))}, "
              f"this program {boolconv.__version__}", file=sys.stderr)
    return None


def convert_log(log_file: str, output_dir: str, blocksize: int) -> tuple[int, int, int, int]:
    """Converts the log on the cluster of the default client; the numbers of
    lines, failed lines, partitions and workers that converted."""
    if os.path.getsize(log_file) == 0:
        return 0, 0, 0, 0  # read_text finds no blocks in an empty file
    # Split at "\n" alone (the default splits at "\r" too and turns "\r\n"
    # into "\n"); decode so that every byte comes back unchanged.
    lines = db.read_text(log_file, blocksize=blocksize, linedelimiter="\n", encoding="utf-8",
                         errors="surrogateescape", compression=None)
    count = lines.npartitions
    numbers = db.from_sequence(range(count), partition_size=1)
    converted = lines.map_partitions(convert_partition, numbers)
    width = max(5, len(str(count - 1)))
    paths = [os.path.join(output_dir, f"part-{number:0{width}d}.jsonl") for number in range(count)]
    # The files and the counts are computed together from the one conversion
    # of each block: fused, each would get a conversion of its own.
    with dask.config.set({"optimization.fuse.active": False}):
        writes = converted.map(itemgetter(0)).to_textfiles(paths, encoding="utf-8",
                                                           compute=False)
        counts = converted.map(itemgetter(1, 2, 3))
        _, totals = dask.compute(writes, counts)
    return (sum(part[0] for part in totals), sum(part[1] for part in totals), count,
            len({part[2] for part in totals}))


def fail(message: str) -> int:
    print(f"dask_log.py: error: {message}", file=sys.stderr)
    return 2


class LeftoverTimerFilter(logging.Filter):
    """Drops asyncio's report of a TimeoutError that no one awaited.

    When the client closes on a busy machine, distributed (2022.12) can
    leave the wake-up timer of its batched sends behind; it fires after the
    close, and asyncio reports it at exit as "Future exception was never
    retrieved ... TimeoutError: Timeout", after every result is written.
    """

    def filter(self, record: logging.LogRecord) -> bool:
        return not (record.getMessage().startswith("Future exception was never retrieved")
                    and record.exc_info is not None
                    and isinstance(record.exc_info[1], TimeoutError))


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        description="Converts each line of a query log, a Boolean search expression, on a "
                    "Dask cluster, and writes one JSON Lines file per block of the log into "
                    "OUTPUT_DIR. Concatenated in name order, they hold what boolconv-cli --json "
                    "writes for the log.",
        epilog="Exit status: 0 when every line converted, 1 when some failed (their results "
               "are written too), 2 when the log could not be converted.")
    parser.add_argument("scheduler", metavar="SCHEDULER_ADDRESS",
                        help="the Dask scheduler, such as tcp://scheduler.example.org:8786")
    parser.add_argument("log_file", metavar="LOG_FILE",
                        help="the log, one expression per line, at a path the workers see too")
    parser.add_argument("output_dir", metavar="OUTPUT_DIR",
                        help="an empty or new folder for the results, seen by the workers too")
    parser.add_argument("--blocksize", default=DEFAULT_BLOCKSIZE, metavar="SIZE",
                        help="bytes of the log per block, such as 64MiB or 100000 "
                             f"(default: {DEFAULT_BLOCKSIZE})")
    parser.add_argument("--timeout", type=float, default=DEFAULT_TIMEOUT, metavar="SECONDS",
                        help="how long to try to reach the scheduler and find a worker "
                             f"(default: {DEFAULT_TIMEOUT:g})")
    options = parser.parse_args(argv)
    try:
        blocksize = parse_bytes(options.blocksize)
    except ValueError:
        blocksize = 0
    if blocksize < 1:
        parser.error(f"--blocksize needs a size such as 64MiB, not {options.blocksize!r}")
    if options.timeout <= 0:
        parser.error(f"--timeout needs a number of seconds above 0, not {options.timeout:g}")

    # The workers may run elsewhere: give them paths that do not depend on
    # this program's folder.
    log_file = os.path.abspath(options.log_file)
    output_dir = os.path.abspath(options.output_dir)
    if not os.path.isfile(log_file):
        return fail(f"no log file {log_file}")
    # Files from an earlier run would be mixed with this one's.
    if os.path.exists(output_dir) and (not os.path.isdir(output_dir) or os.listdir(output_dir)):
        return fail(f"{output_dir} is not an empty folder: give a new or empty one")

    logging.getLogger("asyncio").addFilter(LeftoverTimerFilter())
    try:
        client = Client(options.scheduler, timeout=options.timeout)
    except (OSError, ValueError) as error:
        return fail(f"cannot reach the scheduler {options.scheduler}: {error}")
    with client:
        problem = check_workers(client, options.timeout)
        if problem:
            return fail(problem)
        started = time.monotonic()
        try:
            os.makedirs(output_dir, exist_ok=True)
            lines, failures, partitions, workers = convert_log(log_file, output_dir,
                                                               blocksize)
        except OSError as error:
            return fail(f"the log could not be converted: {error}")
        seconds = time.monotonic() - started

    print(f"lines: {lines}\nfailures: {failures}\npartitions: {partitions}\n"
          f"workers: {workers}\nseconds: {seconds:.2f}\noutput: {output_dir}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
