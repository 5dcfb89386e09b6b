"""Converts Boolean search expressions into the operator form and the sign form.

>>> import boolconv
>>> result = boolconv.convert("a b or c")
>>> result.operator_form, result.sign_form
('(a AND b or c)', '(+a +b c)')

An expression holds words, phrases in double quotes, the operators and, or,
not in any letter case, and parentheses. Besides converting, the package
checks what a conversion does to an expression (``check``), tidies text
pasted from documents (``tidy``), shows how an expression is grouped
(``explain``), reads numbered search histories (``read_history``), and
converts large streams of expressions on several threads
(``convert_many``). Positions are indices into the Python string.
"""

from __future__ import annotations

import io
import json
from collections.abc import Iterable, Iterator
from typing import Literal, overload

from . import _boolconv
from ._boolconv import (
    Conversion,
    Diagnostic,
    ExplainGroup,
    ExplainItem,
    Explanation,
    History,
    HistoryLine,
    Tidied,
    UnconvertedGroups,
    __version__,
    check,
    convert,
    explain,
    looks_like_history,
    read_history,
    tidy,
)
from ._errors import ConversionError

# The types are documented, printed and pickled as boolconv's own.
for _type in (ExplainGroup, ExplainItem, Explanation,
              History, HistoryLine, UnconvertedGroups, ConversionError):
    _type.__module__ = __name__
del _type

__all__ = [
    "Conversion",
    "ConversionError",
    "Diagnostic",
    "ExplainGroup",
    "ExplainItem",
    "Explanation",
    "History",
    "HistoryLine",
    "Tidied",
    "UnconvertedGroups",
    "__version__",
    "check",
    "convert",
    "convert_many",
    "explain",
    "looks_like_history",
    "read_history",
    "tidy",
    "to_json",
]


@overload
def convert_many(expressions: Iterable[str | bytes] | io.IOBase,
                 jobs: int | None = None, *,
                 errors: Literal["raise"] = "raise") -> Iterator[Conversion]: ...


@overload
def convert_many(expressions: Iterable[str | bytes] | io.IOBase,
                 jobs: int | None = None, *,
                 errors: Literal["return"]) -> Iterator[Conversion | ConversionError]: ...


def convert_many(expressions: Iterable[str | bytes] | io.IOBase,
                 jobs: int | None = None, *,
                 errors: Literal["raise", "return"] = "raise"
                 ) -> Iterator[Conversion] | Iterator[Conversion | ConversionError]:
    """Converts each expression of an iterable and yields the results in input order.

    The expressions are str, or bytes in UTF-8. A file opened in binary
    (``open(path, "rb")``, ``sys.stdin.buffer``) is read as boolconv-cli
    reads standard input: each line is an expression, without its "\\n" (and
    a "\\r" before it), and a byte-order mark at the start is dropped. A
    file opened as text gives its lines without their line ends too (as its
    newline setting splits them). They are converted on ``jobs`` threads
    (default: one per core; at most 256) without holding the interpreter
    lock, a batch at a time, while this thread reads the next ones and makes
    the results. Only a few batches are read ahead, so memory stays flat
    however long the input. Inside a program that already runs on several
    threads, such as a Dask worker, pass ``jobs=1``.

    A failing expression raises ConversionError in its turn, after every
    result before it; with ``errors="return"`` it is yielded as a
    ConversionError instead and the rest go on. Something that is not str
    or bytes raises TypeError in its turn. The arguments are checked at
    once: a single str or bytes is refused, as it would be converted
    character by character.
    """
    if isinstance(expressions, (str, bytes)):
        raise TypeError("convert_many takes an iterable of expressions, not one "
                        f"{type(expressions).__name__}: use convert(), or put it in a list")
    if isinstance(expressions, (io.RawIOBase, io.BufferedIOBase)):
        return _results(_boolconv.Converter(jobs, errors, lines_of_file=True), expressions)
    if isinstance(expressions, io.TextIOBase):
        return _results(_boolconv.Converter(jobs, errors), _text_lines(expressions))
    return _results(_boolconv.Converter(jobs, errors), iter(expressions))


def _text_lines(file: io.TextIOBase) -> Iterator[str]:
    """The lines of a text file without their line ends, and without a
    byte-order mark at the start."""
    first = True
    for line in file:
        if line.endswith("\n"):
            line = line[:-2] if line.endswith("\r\n") else line[:-1]
        if first:
            first = False
            line = line.removeprefix("\ufeff")
        yield line


def _results(converter: _boolconv.Converter,
             expressions: Iterator[str | bytes] | io.RawIOBase | io.BufferedIOBase
             ) -> Iterator[Conversion | ConversionError]:
    # The iterator lives in this generator's frame, where the garbage
    # collector sees it, not in the native converter.
    while (batch := converter.next_batch(expressions)) is not None:
        yield from batch


def to_json(result: Conversion | ConversionError) -> str:
    """The JSON object boolconv-cli --json writes for an expression, on one line.

    {"operator":...,"sign":...,"warnings":[...]} (with "warnings_dropped"
    after the warnings when some were left out), or, for a failure,
    {"error":...,"warnings":[...]}; compact, with text other than control
    characters written as it is.
    """
    fields: dict[str, object]
    if isinstance(result, ConversionError):
        fields = {"error": result.message, "warnings": list(result.warnings)}
    else:
        fields = {"operator": result.operator_form, "sign": result.sign_form,
                  "warnings": list(result.warnings)}
        if result.warnings_dropped:
            fields["warnings_dropped"] = result.warnings_dropped
    return json.dumps(fields, ensure_ascii=False, separators=(",", ":"))
