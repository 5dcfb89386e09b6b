"""The Python package against the command-line tool, which wraps the same
library: the same inputs must give the same results, and every position
must index the Python string."""

from __future__ import annotations

import gc
import io
import itertools
import json
import os
import pathlib
import pickle
import random
import re
import subprocess
import sys
import typing
from collections.abc import Iterator
from concurrent.futures import ThreadPoolExecutor

import pytest

import boolconv

CLI = os.environ["BOOLCONV_CLI"]
# A sanitized build preloads its runtime for Python; the tool links its own.
TOOL_ENVIRONMENT = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}

# Pieces of strategies as searchers paste them: database syntax, operators in
# every case, phrases, typographic quotes, stray parentheses and quotes,
# spacing characters and text outside the Basic Multilingual Plane.
PIECES = [
    "asthma", "wheez*", "child*", '"heart failure"', "Asthma/", "exp", "[mh]", "adult*.ti,ab.",
    "and", "AND", "Or", "or", "NOT", "not", "and not", "OR NOT", "(", ")", "((", "))", '"',
    "\u201c", "\u201d", "\u00a0", "\t", "  ", "\u3000", "caf\u00e9", "\U0001F600", "\U0001D538",
    "T1 N0", "NEAR/3", "TS=(", "-adult", "+child", "'single quoted'", "1 or/2-3",
]


def generated_expressions(count: int, seed: int) -> list[str]:
    rng = random.Random(seed)
    return [" ".join(rng.choice(PIECES) for _ in range(rng.randint(0, 14))) for _ in range(count)]


def cli_json(lines: list[str], *options: str) -> list[dict[str, object]]:
    """boolconv-cli's JSON result for each line."""
    completed = subprocess.run([CLI, "--json", *options], input="\n".join(lines) + "\n",
                               capture_output=True, encoding="utf-8", check=False,
                               env=TOOL_ENVIRONMENT)
    results = [json.loads(line) for line in completed.stdout.splitlines()]
    assert len(results) == len(lines), completed.stderr
    return results


def as_json(result: boolconv.Conversion | boolconv.ConversionError) -> dict[str, object]:
    if isinstance(result, boolconv.ConversionError):
        return {"error": result.message, "warnings": list(result.warnings)}
    fields: dict[str, object] = {"operator": result.operator_form, "sign": result.sign_form,
                                 "warnings": list(result.warnings)}
    if result.warnings_dropped:
        fields["warnings_dropped"] = result.warnings_dropped
    return fields


def convert_or_error(expression: str) -> boolconv.Conversion | boolconv.ConversionError:
    try:
        return boolconv.convert(expression)
    except boolconv.ConversionError as error:
        return error


def diagnostics_json(found: list[boolconv.Diagnostic]) -> list[dict[str, object]]:
    return [{"code": d.code, "severity": d.severity, "message": d.message, "start": d.start,
             "end": d.end} for d in found]


EXPRESSIONS = generated_expressions(3000, seed=21) + ["a)) or ((b", '"x y', "", "   "]


# convert, convert_many and check give what the tool gives, field for field.
def test_results_equal_the_tool() -> None:
    expected = cli_json(EXPRESSIONS, "--check")
    one_by_one = [as_json(convert_or_error(e)) for e in EXPRESSIONS]
    many = [as_json(r) for r in boolconv.convert_many(EXPRESSIONS, errors="return")]
    as_bytes = [as_json(r) for r in boolconv.convert_many(
        [e.encode() for e in EXPRESSIONS], jobs=3, errors="return")]
    for expression, tool, single, streamed, from_bytes in zip(EXPRESSIONS, expected, one_by_one,
                                                              many, as_bytes):
        diagnostics = tool.pop("diagnostics", None)
        assert single == tool, expression
        assert streamed == tool, expression
        assert from_bytes == tool, expression
        if "error" not in tool:
            assert diagnostics_json(boolconv.check(expression)) == diagnostics, expression
    assert sum("error" in r for r in expected) >= 2


# Tidy's result converts as the tool's --tidy converts the same text, and
# every repair is among the tool's diagnostics.
def test_tidy_converts_as_the_tool() -> None:
    for expression, tool in zip(EXPRESSIONS, cli_json(EXPRESSIONS, "--tidy", "--capitals")):
        tidied = boolconv.tidy(expression, capitals=True)
        diagnostics = tool.pop("diagnostics", [])
        assert as_json(convert_or_error(tidied.expression)) == tool, expression
        unmatched = list(diagnostics)
        for repair in diagnostics_json(list(tidied.repairs)):
            assert repair in unmatched, (expression, repair)
            unmatched.remove(repair)


# Spans are indices into the Python string, characters outside the Basic
# Multilingual Plane included (each one index, two UTF-16 units).
@pytest.mark.parametrize("expression, code, text", [
    ("\U0001F600 asthma NOT", "trailing-operator", "NOT"),
    ("NOT \U0001D538\U0001D539 asthma", "leading-operator", "NOT"),
    ("\U0001D538 \u201cheart failure\u201d", "typographic-quote", "\u201c"),
    ("\U0001F600\U0001F600 asthma or \"wheez* child", "unclosed-quote", '"'),
    ("\U0001F600 a OR b) OR c", "unbalanced-parentheses", ")"),
    ("\U0001F600 asthma\u00a0or wheeze", "joined-words", "\u00a0"),
])
def test_spans_index_the_string(expression: str, code: str, text: str) -> None:
    found = [d for d in boolconv.check(expression) if d.code == code]
    assert found, boolconv.check(expression)
    assert expression[found[0].start:found[0].end] == text


def test_tidy_repairs_index_the_string() -> None:
    expression = "\U0001F600 asthma -adult \u201cx y\u201d"
    tidied = boolconv.tidy(expression)
    assert tidied.expression == '\U0001F600 asthma NOT adult "x y"'
    assert [expression[r.start:r.end] for r in tidied.repairs] == ["-", "\u201c", "\u201d"]


# Failures: the error's number and message, and text that has no UTF-8.
@pytest.mark.parametrize("expression, code, message", [
    ("a)) or ((b", 1001, 'A closing parenthesis ")" has no opening parenthesis "(" before it.'),
    (b"asthma \xff", 1002, "Not valid UTF-8: invalid byte sequence at byte 8."),
    ("asthma \udc80 or b", 1002, "Not valid text: a lone surrogate U+DC80 at index 7"),
    ("\ud83d", 1002, "Not valid text: a lone surrogate U+D83D at index 0"),
])
def test_errors(expression: str | bytes, code: int, message: str) -> None:
    with pytest.raises(boolconv.ConversionError) as raised:
        boolconv.convert(expression)
    assert isinstance(raised.value, ValueError)
    assert raised.value.code == code
    assert str(raised.value).startswith(message)
    [returned] = boolconv.convert_many([expression], errors="return")
    assert isinstance(returned, boolconv.ConversionError)
    assert (returned.code, returned.message) == (code, raised.value.message)


@pytest.mark.parametrize("call", [boolconv.check, boolconv.tidy, boolconv.explain,
                                  boolconv.read_history, boolconv.looks_like_history])
def test_lone_surrogates_are_refused_everywhere(call: object) -> None:
    with pytest.raises(boolconv.ConversionError, match="lone surrogate U\\+DC80 at index 2"):
        call("ab\udc80")  # type: ignore[operator]


def test_error_keeps_the_warnings_before_it_and_pickles() -> None:
    with pytest.raises(boolconv.ConversionError) as raised:
        boolconv.convert('("x y) a)) or ((b')
    error = raised.value
    assert error.warnings and error.warnings[0].startswith("(GetTokens) Error: ")
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.code, copy.message, copy.warnings) == (
        boolconv.ConversionError, error.code, error.message, error.warnings)


@pytest.mark.parametrize("call, argument, error, message", [
    (boolconv.convert, 42, TypeError, "an expression must be str or bytes, not int"),
    (boolconv.check, b"x", TypeError, "an expression must be str, not bytes"),
    (lambda x: boolconv.tidy("a", capitals=x), None, TypeError, "True or False, not NoneType"),
    (lambda x: boolconv.read_history("1 a", line=x), 0, ValueError, "1 or more, not 0"),
    (lambda x: boolconv.read_history("1 a", line=x), "2", TypeError, "int or None, not str"),
    (lambda x: boolconv.convert_many([], jobs=x), 0, ValueError, "from 1 to 256, not 0"),
    (lambda x: boolconv.convert_many([], jobs=x), 257, ValueError, "from 1 to 256, not 257"),
    (lambda x: boolconv.convert_many([], jobs=x), 2**70, ValueError, "from 1 to 256"),
    (lambda x: boolconv.convert_many([], jobs=x), True, TypeError, "int or None, not bool"),
    (lambda x: boolconv.convert_many([], errors=x), "ignore", ValueError, '"raise" or "return"'),
    (lambda x: boolconv.convert_many([], errors=x), b"return", ValueError, "not b'return'"),
    (boolconv.convert_many, "a or b", TypeError, "not one str: use convert()"),
    (boolconv.convert_many, 42, TypeError, "'int' object is not iterable"),
])
def test_wrong_arguments(call: object, argument: object, error: type, message: str) -> None:
    with pytest.raises(error, match=re.escape(message)):
        call(argument)  # type: ignore[operator]


# Results are immutable values: equal by value, hashable, picklable (as they
# travel between processes on a cluster).
def test_results_are_values() -> None:
    result = boolconv.convert("a b or c")
    assert result == boolconv.convert("a b or c")
    assert hash(result) == hash(pickle.loads(pickle.dumps(result)))
    assert repr(result) == ("boolconv.Conversion(operator_form='(a AND b or c)', "
                            "sign_form='(+a +b c)', warnings=(), warnings_dropped=0)")
    diagnostic = boolconv.check("NOT x")[0]
    assert pickle.loads(pickle.dumps(diagnostic)) == diagnostic
    with pytest.raises(AttributeError):
        result.operator_form = "x"  # type: ignore[misc]


def test_many_warnings_are_counted_not_kept() -> None:
    result = boolconv.convert("(" * 100 + '"x' + ")" * 100)
    assert len(result.warnings) == 64 and result.warnings_dropped == 37


# convert_many: input order across batches and threads; failures in their
# turn; bounded read-ahead; the iterable's own errors.
def test_convert_many_keeps_order() -> None:
    expressions = [f"term{i} or other{i} not x{i % 7}" for i in range(50_000)]
    for jobs in (1, 2, 5):
        results = list(boolconv.convert_many(expressions, jobs))
        assert [r.sign_form for r in results] == [
            f"(term{i} other{i} -x{i % 7})" for i in range(50_000)]


def test_convert_many_raises_in_turn() -> None:
    expressions = ["a"] * 3000 + ["a)) or ((b"] + ["b"] * 10
    seen = []
    with pytest.raises(boolconv.ConversionError, match="closing parenthesis"):
        for result in boolconv.convert_many(expressions):
            seen.append(result)
    assert len(seen) == 3000


def test_convert_many_passes_on_the_iterables_error_in_turn() -> None:
    def lines():
        yield from ["a b"] * 2500
        raise OSError("disk gone")

    seen = []
    with pytest.raises(OSError, match="disk gone"):
        for result in boolconv.convert_many(lines()):
            seen.append(result)
    assert len(seen) == 2500
    assert len(list(itertools.islice(boolconv.convert_many(["a", 1, "b"]), 1))) == 1
    with pytest.raises(TypeError, match="not int"):
        list(boolconv.convert_many(["a", 1, "b"]))


# A file is read as the tool reads standard input, whichever way it is
# opened: lines without their line ends, a byte-order mark at the start
# dropped. Bytes that are not UTF-8 fail in their turn, in binary.
FILE_BYTES = ("\ufeff" + "\r\n".join(EXPRESSIONS[:500]) + "\n" + "\n".join(EXPRESSIONS[500:])
              + "\nlast line without an end").encode()


@pytest.mark.parametrize("opened", ["binary", "buffered", "text", "text without translation"])
def test_convert_many_reads_files(opened: str, tmp_path: pathlib.Path) -> None:
    path = tmp_path / "log.txt"
    path.write_bytes(FILE_BYTES + (b"\n\xff bad\nok" if "text" not in opened else b""))
    completed = subprocess.run([CLI, "--json"], stdin=path.open("rb"), capture_output=True,
                               encoding="utf-8", errors="surrogateescape", check=False,
                               env=TOOL_ENVIRONMENT)
    expected = [json.loads(line) for line in completed.stdout.splitlines()]
    file: io.IOBase
    if opened == "binary":
        file = path.open("rb", buffering=0)
    elif opened == "buffered":
        file = io.BytesIO(path.read_bytes())
    else:
        file = path.open(encoding="utf-8", newline="" if "without" in opened else None)
    with file:
        results = [as_json(r) for r in boolconv.convert_many(file, 2, errors="return")]
    assert results == expected


def test_convert_many_passes_on_the_files_error_in_turn() -> None:
    class FailingFile(io.RawIOBase):
        def __init__(self) -> None:
            self.reads = 0

        def readable(self) -> bool:
            return True

        def readinto(self, buffer: typing.Any) -> int:
            self.reads += 1
            if self.reads > 3:
                raise OSError("disk gone")
            line = b"asthma or wheeze\n" * 1000
            buffer[:len(line)] = line
            return len(line)

    seen = []
    with pytest.raises(OSError, match="disk gone"):
        for result in boolconv.convert_many(FailingFile()):
            seen.append(result)
    assert len(seen) == 3000


def test_convert_many_reads_ahead_only_a_little() -> None:
    taken = 0

    def endless():
        nonlocal taken
        for expression in itertools.repeat("asthma or wheeze"):
            taken += 1
            yield expression

    results = boolconv.convert_many(endless(), 2)
    assert len(list(itertools.islice(results, 100_000))) == 100_000
    assert taken < 100_000 + 10 * 1024
    results.close()


# The work runs on the threads asked for, beside the calling one; the
# speed itself is measured by the benchmark.
def test_convert_many_converts_on_its_threads() -> None:
    def threads() -> int:
        return len(os.listdir("/proc/self/task"))

    before = threads()
    results = boolconv.convert_many(["a b or c"] * 10_000, jobs=2)
    next(results)
    assert threads() == before + 2
    assert sum(1 for _ in results) == 9_999
    del results
    assert threads() == before


# Python threads converting at once each get their own engine; inputs of
# 16 KB and more convert without the interpreter lock.
def test_threads_convert_at_once() -> None:
    expressions = generated_expressions(200, seed=7) + [
        " or ".join(generated_expressions(3000, seed=8)), "(" * 5000 + "a b" + ")" * 5000]
    assert max(len(e) for e in expressions) > 16 << 10
    expected = [as_json(convert_or_error(e)) for e in expressions]
    checked = [boolconv.check(e) for e in expressions]
    with ThreadPoolExecutor(4) as pool:
        for _ in range(3):
            assert list(pool.map(lambda e: as_json(convert_or_error(e)), expressions)) == expected
            assert list(pool.map(boolconv.check, expressions)) == checked


# What a process may do around the package's threads: end while a daemon
# thread converts without the lock; fork while convert_many runs.
@pytest.mark.parametrize("name, program, output", [
    ("daemon thread at exit", """
import threading, time, boolconv
text = "asthma or (wheeze " * 3000
for call in (boolconv.convert, boolconv.check, boolconv.explain):
    threading.Thread(target=lambda: [call(text) for _ in iter(int, 1)], daemon=True).start()
time.sleep(0.3)
print("done")
""", "done"),
    ("fork while converting", """
import itertools, os, sys, boolconv
results = boolconv.convert_many(itertools.repeat("a or b"), 2)
next(results)
pid = os.fork()
if pid == 0:
    try:
        for _ in results:
            pass
    except RuntimeError as error:
        print("child:", str(error)[:52], flush=True)
    print("child converts:", next(boolconv.convert_many(["a b"], 2)).sign_form, flush=True)
    del results
    sys.exit(0)
os.waitpid(pid, 0)
print("parent:", next(results).sign_form)
""", "child: convert_many's iterator was started before os.fork()\nchild converts: (+a +b)\n"
     "parent: (a b)"),
])
def test_process_life(name: str, program: str, output: str) -> None:
    # AddressSanitizer's allocator (clang 14, Debian 12's) is not locked
    # across fork(): a child forked while a worker allocates can wait forever
    # on the lock that worker held. glibc's allocator, which users run, is.
    if name.startswith("fork") and "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("AddressSanitizer's allocator is not fork-safe")
    for _ in range(3):
        completed = subprocess.run([sys.executable, "-c", program], capture_output=True,
                                   text=True, timeout=60, check=False)
        assert (completed.returncode, completed.stdout.strip()) == (0, output), completed.stderr


# An abandoned convert_many in a reference cycle is collected, threads and all.
def test_abandoned_iterators_are_collected() -> None:
    class Job:
        def __init__(self) -> None:
            self.results = boolconv.convert_many(self.lines(), 2)

        def lines(self) -> Iterator[str]:
            yield from ["a"] * 5000

    before = len(os.listdir("/proc/self/task"))
    for _ in range(20):
        job = Job()
        next(job.results)
        del job
    gc.collect()
    assert len(os.listdir("/proc/self/task")) == before


HISTORY = "1 exp Asthma/\n2 wheez*.ti,ab.\n3 or/1-2\n4 child*.ti,ab.\n5 3 and 4\n"


# Histories and explanations give what the tool's --history and --explain give.
def test_history_equals_the_tool() -> None:
    completed = subprocess.run([CLI, "--history", "--json", "--check"], input=HISTORY,
                               capture_output=True, encoding="utf-8", check=False,
                               env=TOOL_ENVIRONMENT)
    tool = json.loads(completed.stdout)
    history = boolconv.read_history(HISTORY)
    assert history.combined == tool["history"]["combined"]
    assert history.line == 5
    assert [line.number for line in history.lines] == [1, 2, 3, 4, 5]
    assert diagnostics_json(history.check()) == tool["diagnostics"]
    assert boolconv.looks_like_history(HISTORY) and not boolconv.looks_like_history("a or b")
    assert boolconv.read_history(HISTORY, line=3).combined == "(exp Asthma/) OR (wheez*.ti,ab.)"
    assert history.error is None
    missing = boolconv.read_history("1 a\n2 1 or 7")
    assert missing.combined == "" and missing.findings[0].code == "history-missing-line"
    assert missing.error == missing.findings[0].message
    for text in ("asthma or wheeze", ""):
        none = boolconv.read_history(text)
        assert (none.line, none.combined, none.findings) == (None, "", ())
        assert none.error == "The input holds no numbered line."


def explanation_json(explanation: boolconv.Explanation) -> dict[str, object]:
    return {
        "converted": explanation.converted,
        "groups": [{"start": g.start, "end": g.end, "items": [
            {"kind": i.kind, "role": i.presence, "operator": i.joined_by, "start": i.start,
             "end": i.end} for i in g.items]} for g in explanation.groups],
    }


@pytest.mark.parametrize("expression", [
    "(asthma OR wheez*) NOT adult*", "\U0001F600 a b or (c not d)", '"x y', "a)) or ((b", "",
])
def test_explain_equals_the_tool(expression: str) -> None:
    [tool] = cli_json([expression], "--explain")
    explanation = boolconv.explain(expression)
    if "explain" not in tool:
        return
    expected = tool["explain"]
    for group in expected["groups"]:
        for item in group["items"]:
            item.pop("group", None)
        for key in [k for k in group if k not in ("start", "end", "items")]:
            group.pop(key)
    assert explanation_json(explanation) == {"converted": expected["converted"],
                                              "groups": expected["groups"]}


def test_explain_draws_the_tree() -> None:
    explanation = boolconv.explain("(asthma OR wheez*) NOT adult*")
    assert str(explanation) == "all of\n├─ any of: asthma, wheez*\n└─ none of: adult*\n"
    assert explanation.groups is explanation.groups  # made once, not at each access


# The examples in the package's documentation run as written.
def test_documented_examples() -> None:
    import doctest

    assert doctest.testmod(boolconv, raise_on_error=True).attempted >= 2
