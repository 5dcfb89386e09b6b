"""python3 -m boolconv: converts each line of standard input, as boolconv-cli does.

For each line the operator form is written on one line of standard output
and the sign form on the next; warnings and failures go to standard error,
a failure named by its line number. With --json, each line's result is one
JSON object. The exit status is 1 when a line failed.
"""

from __future__ import annotations

import argparse
import errno
import io
import os
import signal
import sys
from collections.abc import Iterator
from typing import BinaryIO, TextIO

from . import Conversion, ConversionError, __version__, convert, convert_many, to_json

PROGRAM = "python3 -m boolconv"
BYTE_ORDER_MARK = b"\xef\xbb\xbf"


def _lines(stream: BinaryIO) -> Iterator[bytes]:
    """The lines of `stream` without their "\\n" (and a "\\r" before it); a
    byte-order mark at the very start is dropped, and a last line without
    "\\n" keeps its "\\r", as boolconv-cli reads them."""
    first = True
    for line in stream:
        if first:
            first = False
            if line.startswith(BYTE_ORDER_MARK):
                line = line[len(BYTE_ORDER_MARK):]
                if not line:
                    continue
        if line.endswith(b"\n"):
            line = line[:-2] if line.endswith(b"\r\n") else line[:-1]
        yield line


def _write(results: Iterator[Conversion | ConversionError], as_json: bool, flush_each: bool,
           out: TextIO, err: TextIO) -> bool:
    """Writes the results; false when one of them failed."""
    all_converted = True
    for number, result in enumerate(results, start=1):
        failed = isinstance(result, ConversionError)
        all_converted = all_converted and not failed
        if as_json:
            out.write(to_json(result) + "\n")
        else:
            # Messages come after the output written before them.
            if result.warnings or failed:
                out.flush()
            for warning in result.warnings:
                err.write(warning + "\n")
            if isinstance(result, ConversionError):
                err.write(f"{PROGRAM}: line {number}: {result.message}\n")
            else:
                if result.warnings_dropped:
                    err.write(f"{PROGRAM}: line {number}: {result.warnings_dropped} more warnings"
                              " not shown\n")
                out.write(result.operator_form + "\n" + result.sign_form + "\n")
        if flush_each:
            out.flush()
    return all_converted


def _one_at_a_time(lines: Iterator[bytes]) -> Iterator[Conversion | ConversionError]:
    for line in lines:
        try:
            yield convert(line)
        except ConversionError as error:
            yield error


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description="Converts each line of standard input, a Boolean search expression, into "
                    "the operator form and the sign form.")
    parser.add_argument("--json", action="store_true",
                        help='write one JSON object per line: {"operator":...,"sign":...,'
                             '"warnings":[...]} or {"error":...,"warnings":[...]}')
    parser.add_argument("--jobs", type=int, metavar="N",
                        help="convert on N threads at once (default: one per core); at a "
                             "terminal lines convert one at a time")
    parser.add_argument("--version", action="version", version=f"boolconv {__version__}")
    options = parser.parse_args(argv)
    if options.jobs is not None and options.jobs < 1:
        parser.error(f"--jobs needs a number of threads from 1, not {options.jobs}")

    # A closed stream is None in Python; the tool says what it could not do.
    if sys.stdin is None or sys.stdout is None:
        if sys.stderr is not None:
            what = "read standard input" if sys.stdin is None else "write to standard output"
            print(f"{PROGRAM}: cannot {what}", file=sys.stderr)
        return 1
    # A reader that goes away (as `| head` does) ends the program as it ends
    # boolconv-cli, by SIGPIPE, rather than with a Python error.
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    # UTF-8 whatever the locale, and no translation of line ends: the
    # tokenizer's warnings hold "\r\n" of their own. Without standard error,
    # messages go nowhere, as the tool's do.
    out = io.TextIOWrapper(sys.stdout.buffer, encoding="utf-8", newline="\n")
    err: TextIO = (io.TextIOWrapper(sys.stderr.buffer, encoding="utf-8", newline="\n",
                                    line_buffering=True)
                   if sys.stderr is not None else open(os.devnull, "w", encoding="utf-8"))
    # At a terminal each line converts as soon as it is typed; otherwise
    # convert_many reads standard input in large blocks, as the tool does.
    interactive = sys.stdin.isatty()
    results = (_one_at_a_time(_lines(sys.stdin.buffer)) if interactive
               else convert_many(sys.stdin.buffer, options.jobs, errors="return"))
    try:
        converted = _write(results, options.json, interactive, out, err)
        out.flush()
    except KeyboardInterrupt:
        return 130  # Ctrl-C at a terminal: stop quietly, as the tool does
    except OSError as error:
        if error.errno == errno.EBADF and not isinstance(error, BrokenPipeError):
            err.write(f"{PROGRAM}: cannot read standard input\n")
        else:
            err.write(f"{PROGRAM}: cannot write to standard output\n")
        # Nothing more reaches standard output, not even at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    return 0 if converted else 1


if __name__ == "__main__":
    sys.exit(main())
