"""The tool's failures: one message on standard error and a documented status, never a traceback."""
import codecs
import os
import pathlib
import signal
import subprocess
import sys
from importlib import metadata

import pytest

from clirun import failure, ok, run_cli

PERSON = pathlib.Path(__file__).resolve().parents[2] / "examples" / "person.json"
PROG = (sys.executable, "-m", "vardelquin_cli")
ONE_RECORD = {"dumps": b'{"a": 1}\n', "loads": b"a=1;\n"}


def one_line(stderr):
    assert stderr.endswith("\n") and stderr.count("\n") == 1 and "Traceback" not in stderr, stderr
    return stderr


def close_stdout():
    os.close(1)


@pytest.mark.parametrize("args", [["dumps"], ["loads"], ["dumps", "--lines"], ["loads", "--lines"]])
@pytest.mark.parametrize("where, message", [
    ("closed", "cannot write standard output: it is closed"),
    ("full", "cannot write standard output: No space left on device"),
    ("-o /dev/full", "cannot write /dev/full: No space left on device"),
])
def test_output_that_cannot_be_written(args, where, message):
    if where == "closed" and sys.platform == "win32":
        pytest.skip("a child's standard output is closed before it starts through preexec_fn, which is POSIX only")
    if where != "closed" and not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full on this system")
    data = ONE_RECORD[args[0]]
    if where == "closed":
        result = subprocess.run([*PROG, *args], input=data, stderr=subprocess.PIPE, preexec_fn=close_stdout,
                                timeout=60)
    elif where == "full":
        with open("/dev/full", "wb") as full:
            result = subprocess.run([*PROG, *args], input=data, stdout=full, stderr=subprocess.PIPE, timeout=60)
    else:
        result = run_cli(*args, "-o", "/dev/full", stdin=data)
    assert result.returncode == 1
    assert one_line(result.stderr.decode()) == f"vardelquin: error: {message}\n"


@pytest.mark.skipif(sys.platform == "win32", reason="preexec_fn is POSIX only")
def test_closed_input():
    result = subprocess.run([*PROG, "check"], stdin=subprocess.DEVNULL, capture_output=True,
                            preexec_fn=lambda: os.close(0), timeout=60)
    assert (result.returncode, result.stderr) == (1, b"vardelquin: error: cannot read standard input: it is closed\n")


def default_ctrl_c():
    # A shell without job control starts background jobs with SIGINT ignored,
    # and the interpreter then leaves it ignored: give the tool a terminal's default.
    signal.signal(signal.SIGINT, signal.SIG_DFL)


@pytest.mark.skipif(sys.platform == "win32", reason="SIGINT cannot be sent to a process on Windows")
def test_ctrl_c_while_reading_an_open_pipe():
    with subprocess.Popen([*PROG, "loads", "--lines"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, preexec_fn=default_ctrl_c) as proc:
        proc.stdin.write(b"a=1;\n")
        proc.stdin.flush()
        # The answer to the first line arrives while the pipe stays open: the
        # tool is inside its read loop when the signal comes.
        assert proc.stdout.readline() == b'{"a": 1}\n'
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=60)
    assert (proc.returncode, out, err) == (130, b"", b"vardelquin: interrupted\n")


BOMS = {"utf-8-sig": b"", "utf-16-le": codecs.BOM_UTF16_LE, "utf-16-be": codecs.BOM_UTF16_BE,
        "utf-32-le": codecs.BOM_UTF32_LE, "utf-32-be": codecs.BOM_UTF32_BE}


@pytest.mark.parametrize("encoding", BOMS)
@pytest.mark.parametrize("args, text, expected", [
    (["dumps"], '{"k": "é"}\n', "k=é;\n"), (["loads"], "k=é;\n", '{"k": "é"}\n'),
    (["dumps", "--lines"], '{"k": "é"}\r\n\n{"n": 1}\n', "k=é;\nn=1;\n"),
    (["loads", "--lines"], "k=é;\nn=1;", '{"k": "é"}\n{"n": 1}\n'),
])
def test_byte_order_marks(encoding, args, text, expected):
    # Every input encoding gives the same UTF-8 output, without the mark.
    assert ok(run_cli(*args, stdin=BOMS[encoding] + text.encode(encoding))) == expected


@pytest.mark.parametrize("encoding", ["utf-16-le", "utf-16-be", "utf-32-le", "utf-32-be"])
@pytest.mark.parametrize("args, text, expected", [
    (["dumps"], '{"k": "é"}\n', "k=é;\n"),
    (["dumps", "--lines"], '{"k": "é"}\r\n\n{"n": 1}\n', "k=é;\nn=1;\n"),
])
def test_json_in_wide_encodings_without_a_mark(encoding, args, text, expected):
    # JSON starts with an ASCII character, so its zero bytes tell the encoding, as the json module does.
    assert ok(run_cli(*args, stdin=text.encode(encoding))) == expected


@pytest.mark.parametrize("args, data, message", [
    (["loads"], codecs.BOM_UTF16_LE + b"a\x00=", "<stdin>: not UTF-16 text (byte 4: truncated data)"),
    (["check"], b"a=\xff;", "<stdin>: not UTF-8 text (byte 2: invalid start byte)"),
    (["check", "--lines"], b"a=1;\n\nb=\xc3;\n",
     "<stdin>:3: not UTF-8 text (byte 2 of the line: invalid continuation byte)"),
    (["dumps"], b'{"a": {"b c": [1, -99999999999999999999]}}',
     '<stdin>: int too big to convert: $.a["b c"][1] (integers must fit in 64 bits)'),
    (["dumps", "--lines"], b'{"n": 1}\n{"x": [{"n": 18446744073709551616}]}\n',
     "<stdin>:2: int too big to convert: $.x[0].n (integers must fit in 64 bits)"),
    (["dumps", "--wrap", "w"], b'[{"\\ud800": 1}]', "surrogates not allowed: $.w[0][\"\\ud800\"]"),
])
def test_messages_say_what_and_where(args, data, message):
    result = run_cli(*args, stdin=data)  # with --lines, the records before the failure are written
    assert result.returncode == 1 and message in one_line(result.stderr.decode())


@pytest.mark.parametrize("args, message", [
    (["loads", "--indent", "-1"], "argument --indent: expected a whole number of spaces, 0 or more, got '-1'"),
    (["loads", "--lines", "--indent", "2"],
     "--indent cannot be used with --lines: every record is written on one line"),
    (["dumps", "--lines", "-n"], "--no-newline cannot be used with --lines: every record ends with a line feed"),
    (["check", "--progress"], "--progress and --no-progress apply to --lines only"),
    (["loads", "--lines", "--null-str", "a\rb"], "--null-str holds a line break, which --lines cannot use"),
    (["dumps", "--wrp", "x", PERSON], "unrecognized option --wrp (did you mean --wrap?)"),
    (["loads", "--frobnicate=3", PERSON], "unrecognized option --frobnicate"),
    (["check", PERSON, PERSON], f"unrecognized arguments: {PERSON}"),
])
def test_bad_command_lines_are_status_2(args, message):
    stderr = failure(run_cli(*args), 2)
    usage, error = stderr.split(f"vardelquin {args[0]}: error: ")
    assert usage.startswith("usage:") and error == message + "\n"


def test_version():
    assert ok(run_cli("--version")) == f"vardelquin {metadata.version('vardelquin')}\n"
