"""Converts, checks and tidies a strategy pasted from a document, and a log
of expressions, with every type spelled out: a type checker (mypy --strict)
accepts it as it stands.

    python3 typed_usage.py
"""

from __future__ import annotations

from collections.abc import Iterator

import boolconv


def report(expression: str) -> list[str]:
    """The two forms of `expression`, then one line per finding."""
    lines: list[str] = []
    try:
        result: boolconv.Conversion = boolconv.convert(expression)
        lines += [result.operator_form, result.sign_form]
    except boolconv.ConversionError as error:
        code: int = error.code
        lines.append(f"error {code}: {error}")
    for finding in boolconv.check(expression):
        start: int = finding.start
        lines.append(f"{finding.severity} at {start}: {expression[start:finding.end]!r} "
                     f"[{finding.code}]")
    return lines


def tidy_then_convert(pasted: str) -> tuple[str, int]:
    """The operator form of the tidied text, and how many repairs it took."""
    tidied: boolconv.Tidied = boolconv.tidy(pasted, capitals=True)
    return boolconv.convert(tidied.expression).operator_form, len(tidied.repairs)


def sign_forms(log: list[str]) -> Iterator[str]:
    """The sign form of each expression, or the error, in order."""
    for result in boolconv.convert_many(log, jobs=2, errors="return"):
        if isinstance(result, boolconv.ConversionError):
            yield f"error {result.code}"
        else:
            yield result.sign_form


def history_line(history_text: str) -> str | None:
    """The combined expression of a numbered search history."""
    history: boolconv.History = boolconv.read_history(history_text, line=None)
    findings: list[boolconv.Diagnostic] = history.check()
    if any(f.severity == "error" for f in findings):
        return None
    return history.combined


if __name__ == "__main__":
    print("\n".join(report('NOT animals[mh] asthma or "wheez*')))
    print(tidy_then_convert("asthma\u00a0or \u201cwheeze\u201d -adult"))
    print(list(sign_forms(["a b or c", "a)) or ((b"])))
    print(history_line("1 asthma\n2 wheeze\n3 1 or 2"))
    print(boolconv.explain("(asthma OR wheez*) NOT adult*").draw())
