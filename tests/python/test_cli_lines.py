"""Line streams through the tool: one record per line each way."""
import json
import os
import random
import select
import subprocess
import sys
import time

import pytest

from clirun import ok, run_cli

WORDS = ["alpha", "Zürich", "naïve", "東京", "x;y", "a=b", "[list]", "{obj}", "pipe|d", "back\\slash", "🚀"]


def records(n, seed=20240607):
    """Log-like records with nesting, non-ASCII text, delimiters, nulls; none in a lossy form."""
    rng = random.Random(seed)
    for i in range(n):
        yield {"id": i, "ts": 1_700_000_000 + 7 * i, "level": rng.choice(["info", "warn", "error"]),
               "user": {"name": rng.choice(WORDS) + "-" + rng.choice(WORDS), "verified": rng.random() < 0.3},
               "latency_ms": round(rng.uniform(0.1, 900.0), 3), "parent": None if i % 2 else i // 2,
               "tags": [rng.choice(WORDS) for _ in range(rng.randint(1, 3))],
               "message": " ".join(rng.choices(WORDS, k=rng.randint(2, 6)))}


def test_round_trip_of_100000_records(tmp_path):
    originals = list(records(100_000))
    (tmp_path / "in.jsonl").write_text("".join(json.dumps(r, ensure_ascii=False) + "\n" for r in originals),
                                       encoding="utf-8")
    ok(run_cli("dumps", "--lines", tmp_path / "in.jsonl", "-o", tmp_path / "records.txt"))
    with open(tmp_path / "records.txt", encoding="utf-8", newline="") as f:
        assert sum(1 for _ in f) == 100_000  # one line each, and nothing split them
    out = ok(run_cli("loads", "--lines", tmp_path / "records.txt"))
    assert [json.loads(line) for line in out.split("\n")[:-1]] == originals  # dicts: nested order aside


@pytest.mark.parametrize("record, path", [
    ({"a": "one\ntwo"}, "$.a"), ({"a": {"b": ["x", "y\r"]}}, "$.a.b[1]"), ({"k\nk": 1}, '$["k\\nk"]'),
])
def test_line_break_in_a_record_is_refused(record, path):
    data = b'{"before": 1}\n' + json.dumps(record).encode() + b'\n{"after": 1}\n'
    result = run_cli("dumps", "--lines", stdin=data)
    assert (result.returncode, result.stdout) == (1, b"before=1;\n")  # never written across lines
    assert result.stderr.decode() == (f"vardelquin: error: <stdin>:2: {path} holds a line break, which cannot be "
                                      "written on one line (a line stream has one text per line; use the command "
                                      "without --lines for such records)\n")


def test_other_separators_blank_lines_and_empty_records_keep_their_place():
    # \v, \f, \x1c, \x85, \u2028 stay inside a line for line readers; blank lines
    # and a final line without a line feed are fine; {} is not lost as a blank line.
    records_in = [{"s": "a\vb\fc\x1cd\x85e\u2028f"}, {}, {"n": [1, None]}]
    data = "\n \t\n".join(json.dumps(r) for r in records_in).encode() + b"\r\n\n"
    text = ok(run_cli("dumps", "--lines", stdin=data))
    assert text == "s=a\vb\fc\x1cd\x85e\u2028f;\n;\nn=[1|null];\n"
    out = ok(run_cli("loads", "--lines", stdin=text.encode()))
    assert [json.loads(line) for line in out.split("\n")[:-1]] == records_in
    assert ok(run_cli("check", "--lines", stdin=text.encode())) == ""


@pytest.mark.parametrize("args, data, out, message", [
    (["dumps", "--lines"], b'{"a": 1}\n\n{"a": \n', "a=1;\n", "<stdin>:3: not a JSON document: Expecting value"),
    (["dumps", "--lines"], b"[1]\n", "", "<stdin>:1: the top level is a JSON array, not an object (use --wrap KEY"),
    (["loads", "--lines"], "é=1;\nb=[1}2];\n".encode(), '{"é": 1}\n',
     "<stdin>:2:5: Unexpected '}' in list at pos 4\n    b=[1}2];\n        ^\n"),
    (["check", "--lines"], b"a=1;\nb\n", "", "<stdin>:2:2: Expected '=' but got EOF\n"),
])
def test_failures_name_the_line(args, data, out, message):
    result = run_cli(*args, stdin=data)
    assert (result.returncode, result.stdout.decode()) == (1, out)
    assert result.stderr.decode().startswith("vardelquin: error: " + message)


def read_terminal(controller, seen=b"", until=None, timeout=60):
    """seen and what the terminal shows next: until the text `until` appears, or until it is closed."""
    deadline = time.monotonic() + timeout
    while until is None or until not in seen:
        ready, _, _ = select.select([controller], [], [], max(deadline - time.monotonic(), 0))
        assert ready, f"nothing more on the terminal after {seen!r}"
        try:
            chunk = os.read(controller, 4096)
        except OSError:  # the terminal's other side is closed: everything was read
            chunk = b""
        if not chunk:
            assert until is None, f"{until!r} never shown: {seen!r}"
            break
        seen += chunk
    return seen


@pytest.mark.parametrize("option, shown", [("--progress", True), ("--no-progress", False), (None, False)])
def test_progress_only_on_a_terminal(option, shown):
    # A small input shows no progress unless asked for; standard error is a terminal here.
    pty = pytest.importorskip("pty", reason="pseudo-terminals are POSIX only")
    controller, terminal = pty.openpty()
    try:
        proc = subprocess.run([sys.executable, "-m", "vardelquin_cli", "loads", "--lines", *filter(None, [option])],
                              input=b"a=1;\n" * 3, stdout=subprocess.PIPE, stderr=terminal, timeout=60)
        os.close(terminal)
        terminal = None
        seen = read_terminal(controller)
    finally:
        os.close(controller)
        if terminal is not None:
            os.close(terminal)
    assert proc.returncode == 0 and proc.stdout == b'{"a": 1}\n' * 3
    assert (b"vardelquin: 0 records, 0.0 MB" in seen) == shown  # drawn at once when asked for
    assert seen.endswith(b"\r") if shown else seen == b""  # erased at the end


def test_progress_moves_on_time_with_a_slow_producer():
    # A record now and then, as from `tail -f`: each count is shown while the
    # tool waits for the next line, long before any count of records is reached.
    pty = pytest.importorskip("pty", reason="pseudo-terminals are POSIX only")
    controller, terminal = pty.openpty()
    try:
        with subprocess.Popen([sys.executable, "-m", "vardelquin_cli", "loads", "--lines", "--progress"],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=terminal) as proc:
            os.close(terminal)
            terminal = None
            seen = read_terminal(controller, until=b"vardelquin: 0 records,")
            for number, shown in ((1, b"vardelquin: 1 record,"), (2, b"vardelquin: 2 records,")):
                proc.stdin.write(b"a=%d;\n" % number)
                proc.stdin.flush()
                assert proc.stdout.readline() == b'{"a": %d}\n' % number
                seen = read_terminal(controller, seen, until=shown)
            proc.stdin.close()
            assert proc.wait(timeout=60) == 0
            seen = read_terminal(controller, seen)
    finally:
        os.close(controller)
        if terminal is not None:
            os.close(terminal)
    assert seen.endswith(b"\r") and b"1 records" not in seen
