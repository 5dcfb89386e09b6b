"""The Dask example, run on a cluster of a scheduler and two workers on this
machine: its result files, concatenated, must hold exactly what
boolconv-cli --json writes for the same log.

Needs BOOLCONV_CLI (the command-line tool), BOOLCONV_EXAMPLES (the examples
folder) and a PYTHONPATH under which the workers import boolconv.
"""

from __future__ import annotations

import json
import os
import random
import signal
import socket
import subprocess
import sys
import time
from collections.abc import Iterator
from pathlib import Path

import pytest

pytest.importorskip("dask.bag")
# Made by the client in this process on Debian's tornado; not the test's concern.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
distributed = pytest.importorskip("distributed")

START_TIMEOUT = 30.0  # seconds for the cluster to come up
RUN_TIMEOUT = 60.0  # seconds for one run of the example


def _env_path(name: str) -> Path:
    value = os.environ.get(name)
    if not value:
        pytest.fail(f"{name} is not set")
    return Path(value).resolve()


def _environment() -> dict[str, str]:
    """This environment with PYTHONPATH made absolute, as the workers run in
    a folder of their own."""
    env = dict(os.environ)
    folders = [os.path.abspath(folder) for folder in env.get("PYTHONPATH", "").split(os.pathsep)
               if folder]
    env["PYTHONPATH"] = os.pathsep.join(folders)
    return env


def _stop(process: subprocess.Popen[bytes]) -> None:
    """Ends a process started in a session of its own, with all it started."""
    if process.poll() is not None:
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            return
        try:
            process.wait(timeout=10)
            return
        except subprocess.TimeoutExpired:
            continue


@pytest.fixture(scope="module")
def cluster(tmp_path_factory: pytest.TempPathFactory) -> Iterator[str]:
    """The address of a scheduler with two one-thread workers, all on
    127.0.0.1 at ports the system chooses, read from the scheduler file.
    Their HTTP servers for health and metrics, which start even without a
    dashboard, are kept on loopback too. Stopped after the module's tests."""
    folder = tmp_path_factory.mktemp("cluster")
    scheduler_file = folder / "scheduler.json"
    loopback = ["--host", "127.0.0.1", "--no-dashboard", "--dashboard-address", "127.0.0.1:0",
                "--scheduler-file", str(scheduler_file)]
    processes: list[subprocess.Popen[bytes]] = []

    def start(module: str, *arguments: str, log: str) -> None:
        with open(folder / log, "wb") as output:
            processes.append(subprocess.Popen(
                [sys.executable, "-m", f"distributed.cli.{module}", *arguments],
                stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                cwd=folder, env=_environment(), start_new_session=True))

    try:
        start("dask_scheduler", "--port", "0", *loopback, log="scheduler.log")
        for number in (1, 2):
            start("dask_worker", "--nthreads", "1", "--no-nanny", "--name", f"worker-{number}",
                  "--local-directory", str(folder / f"worker-{number}"), *loopback,
                  log=f"worker-{number}.log")
        address = _scheduler_address(scheduler_file, processes, folder)
        try:
            with distributed.Client(address, timeout=START_TIMEOUT) as client:
                client.wait_for_workers(2, timeout=START_TIMEOUT)
        except (OSError, TimeoutError):
            pytest.fail(f"the workers did not join the scheduler:\n{_logs(folder)}")
        yield address
    finally:
        for process in reversed(processes):
            _stop(process)


def _scheduler_address(scheduler_file: Path, processes: list[subprocess.Popen[bytes]],
                       folder: Path) -> str:
    """The address the scheduler wrote, once it has written all of it."""
    deadline = time.monotonic() + START_TIMEOUT
    while time.monotonic() < deadline:
        if any(process.poll() is not None for process in processes):
            break
        try:
            return str(json.loads(scheduler_file.read_text())["address"])
        except (OSError, ValueError, KeyError):
            time.sleep(0.05)
    pytest.fail(f"the scheduler did not start:\n{_logs(folder)}")


def _logs(folder: Path) -> str:
    return "\n".join(f"--- {path.name}\n{path.read_text(errors='replace')}"
                     for path in sorted(folder.glob("*.log")))


def _run_example(cluster_address: str, log: Path, output: Path,
                 *options: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, str(_env_path("BOOLCONV_EXAMPLES") / "dask_log.py"), cluster_address,
         str(log), str(output), *options],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, env=_environment(),
        timeout=RUN_TIMEOUT)


def _cli_json(log: Path) -> tuple[bytes, int]:
    # A sanitized build preloads its runtime for Python; the tool links its own.
    tool_environment = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    with open(log, "rb") as stdin:
        done = subprocess.run([str(_env_path("BOOLCONV_CLI")), "--json"], stdin=stdin,
                              capture_output=True, timeout=RUN_TIMEOUT, env=tool_environment)
    return done.stdout, done.returncode


def _concatenated(output: Path) -> bytes:
    return b"".join(path.read_bytes() for path in sorted(output.iterdir()))


def _summary(stdout: str) -> dict[str, str]:
    return dict(line.split(": ", 1) for line in stdout.splitlines())


# --- A log shaped like real search strategies --------------------------------

TERMS = [
    '"breast neoplasms"[MeSH Terms]', "cancer*[tiab]", '"randomized controlled trial"[pt]',
    "exp Breast Neoplasms/", "(breast adj3 (cancer* or tumo?r*)).ti,ab.", "mammogra*",
    '"quality of life"', "placebo*", "child*", "aged[mh]", "Lebensqualität", "café",
    "naïve", "рак", "乳腺癌", '"𝔘nicode 𝔞stral"', "😀", "smok*", "\"e-cigarette\"", "π",
]
OPERATORS = [" AND ", " and ", " And ", " OR ", " or ", " oR ", " NOT ", " not ", " "]
BROKEN = [
    "a)) or ((b", ")", "cancer) AND (therapy", '"breast cancer', '("a" or b', "((a or b)",
    "a or b)", '"', "(" * 80 + '"' + ")" * 80, "and", "NOT", "",
    "   ", "\tchild*\t",
]
# Bytes that are not UTF-8: Latin-1, a lone continuation byte, a cut sequence.
NOT_UTF8 = [b"caf\xe9 and th\xe9", b"\x80 or b", b"\xe4\xb9 and c", b"ok or \xff"]


def _expression(rng: random.Random, depth: int) -> str:
    parts = []
    for _ in range(rng.randint(1, 4)):
        if depth < 3 and rng.random() < 0.3:
            parts.append("(" + _expression(rng, depth + 1) + ")")
        else:
            parts.append(rng.choice(TERMS))
    text = parts[0]
    for part in parts[1:]:
        text += rng.choice(OPERATORS) + part
    return text


def _log(lines: int, seed: int) -> bytes:
    rng = random.Random(seed)
    out = [b"\xef\xbb\xbf"]
    for number in range(lines):
        pick = rng.random()
        if pick < 0.08:
            line = rng.choice(BROKEN).encode()
        elif pick < 0.1:
            line = rng.choice(NOT_UTF8)
        elif pick < 0.11:
            # A mark that is not at the start of the log belongs to the line.
            line = "\ufeff".encode() + _expression(rng, 0).encode()
        elif pick < 0.12:
            line = _expression(rng, 0).encode() + b"\r" + _expression(rng, 0).encode()
        else:
            line = _expression(rng, 0).encode()
        if number == lines // 2:
            # Longer than a block: some blocks start and end inside it.
            line = " or ".join(f'(a{n} and "b c")' for n in range(4000)).encode()
        out.append(line + (b"\r\n" if rng.random() < 0.1 else b"\n"))
    out.append(b"last line\r")  # no "\n": its "\r" is kept
    return b"".join(out)


def test_a_large_log_converts_as_the_command_line_tool_converts_it(
        cluster: str, tmp_path: Path) -> None:
    log = tmp_path / "queries.log"
    log.write_bytes(_log(3000, seed=7))
    output = tmp_path / "results"

    done = _run_example(cluster, log, output, "--blocksize", "16KiB")

    expected, cli_status = _cli_json(log)
    assert (done.returncode, done.stderr) == (cli_status, "")
    assert cli_status == 1  # some lines fail
    assert _concatenated(output) == expected
    summary = _summary(done.stdout)
    expected_lines = expected.split(b"\n")[:-1]
    assert int(summary["lines"]) == len(expected_lines) == 3001
    assert int(summary["failures"]) == sum(line.startswith(b'{"error"') for line in expected_lines)
    files = sorted(output.iterdir())
    assert int(summary["partitions"]) == len(files) > 4
    assert any(path.stat().st_size == 0 for path in files)  # inside the long line
    assert int(summary["workers"]) == 2


# Logs whose edges are easy to get wrong, each cut into blocks of a few bytes.
EDGE_LOGS = {
    "empty": b"",
    "only a byte-order mark": b"\xef\xbb\xbf",
    "a byte-order mark and an empty line": b"\xef\xbb\xbf\n",
    "a byte-order mark before the first line": b"\xef\xbb\xbfa or b\nc\n",
    "a byte-order mark starting a later block": b"first line\n\xef\xbb\xbfsecond\n",
    "no end of line at the end": b"a and b\nc or d",
    "a carriage return at the end": b"a\r\nb\r",
    "carriage returns inside lines": b"a\rb\n\rc\r\r\n",
    "empty lines": b"\n\n\r\n\n",
    "not UTF-8": b"caf\xe9\n\xc3\nok\n\xf0\x9f\x98\n",
    "astral characters across blocks": "😀 and 𝔘 or (x NOT 乳腺癌)\n".encode() * 3,
}


@pytest.mark.parametrize("content", EDGE_LOGS.values(), ids=EDGE_LOGS.keys())
def test_edges_of_a_log_are_read_as_the_command_line_tool_reads_them(
        cluster: str, tmp_path: Path, content: bytes) -> None:
    log = tmp_path / "queries.log"
    log.write_bytes(content)
    output = tmp_path / "results"

    done = _run_example(cluster, log, output, "--blocksize", "3")

    expected, cli_status = _cli_json(log)
    assert (done.returncode, done.stderr) == (cli_status, "")
    assert (_concatenated(output) if output.exists() else b"") == expected


def test_the_program_stops_with_a_clear_error_when_it_cannot_run(
        cluster: str, tmp_path: Path) -> None:
    log = tmp_path / "queries.log"
    log.write_bytes(b"a or b\n")
    used = tmp_path / "used"
    used.mkdir()
    (used / "part-00000.jsonl").write_bytes(b"from an earlier run\n")
    cases = [
        ("a missing log", tmp_path / "missing.log", tmp_path / "out1", "no log file"),
        ("results from an earlier run", log, used, "is not an empty folder"),
    ]
    for name, log_file, output, message in cases:
        done = _run_example(cluster, log_file, output)
        assert (done.returncode, done.stdout) == (2, ""), name
        assert message in done.stderr, name
    assert not (tmp_path / "out1").exists()
    assert (used / "part-00000.jsonl").read_bytes() == b"from an earlier run\n"


def test_a_scheduler_that_does_not_answer_times_out(tmp_path: Path) -> None:
    log = tmp_path / "queries.log"
    log.write_bytes(b"a or b\n")
    # Accepts connections (the backlog does) but never answers.
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        address = "tcp://127.0.0.1:%d" % silent.getsockname()[1]
        started = time.monotonic()
        done = _run_example(address, log, tmp_path / "out", "--timeout", "1")
        seconds = time.monotonic() - started
    assert done.returncode == 2
    assert f"cannot reach the scheduler {address}" in done.stderr
    assert seconds < 10
    assert not (tmp_path / "out").exists()
