"""python3 -m boolconv against boolconv-cli on the same standard input."""

from __future__ import annotations

import os
import subprocess
import sys

import pytest

CLI = os.environ["BOOLCONV_CLI"]
# A sanitized build preloads its runtime for Python; the tool links its own.
TOOL_ENVIRONMENT = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
PROGRAM = [sys.executable, "-m", "boolconv"]

# Line ends of every kind, a byte-order mark, a failing line, bytes that are
# not UTF-8, an unclosed quote, blank lines and a last line without "\n".
INPUTS = {
    "strategy": "\ufeff(asthma OR wheez*) AND child* NOT adult*\r\n\"heart failure\" or HF\n"
                "a)) or ((b\n\"unclosed quote\n\n   \n\U0001F600 caf\u00e9 or t\u00e9\r",
    "invalid": b"asthma \xff or wheeze\nok or fine\n",
    "nested": "(" * 80 + '"x' + ")" * 80 + "\n",
    "empty": "",
    "only a mark": "\ufeff",
}


def run(command: list[str], data: str | bytes, *options: str) -> subprocess.CompletedProcess[bytes]:
    stdin = data.encode() if isinstance(data, str) else data
    return subprocess.run([*command, *options], input=stdin, capture_output=True, check=False,
                          env=TOOL_ENVIRONMENT if command == [CLI] else None)


@pytest.mark.parametrize("name", INPUTS)
@pytest.mark.parametrize("options", [[], ["--json"], ["--jobs=1"], ["--json", "--jobs=3"]])
def test_same_as_the_tool(name: str, options: list[str]) -> None:
    tool = run([CLI], INPUTS[name], *options)
    module = run(PROGRAM, INPUTS[name], *options)
    assert module.stdout == tool.stdout
    assert module.stderr.replace(b"python3 -m boolconv", b"boolconv-cli") == tool.stderr
    assert module.returncode == tool.returncode


@pytest.mark.parametrize("options, message", [
    (["--jobs=0"], b"--jobs needs a number of threads from 1, not 0"),
    (["--frobnicate"], b"unrecognized arguments: --frobnicate"),
])
def test_usage_errors(options: list[str], message: bytes) -> None:
    completed = run(PROGRAM, "a", *options)
    assert completed.returncode == 2
    assert message in completed.stderr and completed.stdout == b""


def test_help_and_version() -> None:
    assert b"usage: python3 -m boolconv" in run(PROGRAM, "", "--help").stdout
    assert run(PROGRAM, "", "--version").stdout.startswith(b"boolconv ")


# Closed and full streams: the same messages and exit status as the tool.
@pytest.mark.parametrize("redirection", ["<&-", ">&-", "2>&-", ">/dev/full"])
def test_streams_that_fail(redirection: str) -> None:
    def shell(command: list[str]) -> tuple[int, bytes]:
        completed = subprocess.run(
            ["bash", "-c", f"printf 'a b\\n' | \"$@\" {redirection}", "bash", *command],
            capture_output=True, check=False,
            env=TOOL_ENVIRONMENT if command == [CLI] else None)
        return completed.returncode, completed.stderr

    tool, module = shell([CLI]), shell(PROGRAM)
    assert module[0] == tool[0]
    assert module[1].replace(b"python3 -m boolconv", b"boolconv-cli") == tool[1]
