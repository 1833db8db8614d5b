"""Where output goes: a file named by -o is replaced only by a run that succeeds; and output that cannot
be written in full fails with status 1, whatever the mode and destination.

A short write (a disk that fills up part-way through a block, a reader that
leaves while a block is in the pipe) is the case that a buffered stream lets
through as a smaller count; each run here meets one.
"""
import json
import os
import signal
import stat
import subprocess
import sys
import threading
import time

import pytest

# The destinations are made full or closed in the child before it starts
# (preexec_fn, a file-size limit), which only POSIX systems offer.
resource = pytest.importorskip("resource", reason="needs POSIX resource limits and preexec_fn")

PROG = (sys.executable, "-m", "vardelquin_cli")
LIMIT = 16 << 10  # bytes the destination accepts before it is full


def whole_json(size):
    return json.dumps({"a": "x" * size}).encode()


def json_lines(size):
    return b"".join(b'{"id": %d, "message": "twenty-two characters"}\n' % i for i in range(size // 40))


def text_lines(size):
    return b"".join(b"id=%d;message=twenty-two characters;\n" % i for i in range(size // 40))


# The args and an input of about the given size; each writes at least as much.
MODES = {
    "dumps": (["dumps"], whole_json),
    "loads": (["loads"], lambda size: b"a=" + b"x" * size + b";"),
    "dumps --lines": (["dumps", "--lines"], json_lines),
    "loads --lines": (["loads", "--lines"], text_lines),
}


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """Per mode: output larger than a pipe holds (many blocks), and output of one block, written at the end."""
    folder = tmp_path_factory.mktemp("inputs")
    paths = {}
    for mode, (_, make) in MODES.items():
        for size in (300_000, 48_000):
            paths[mode, size] = folder / f"{mode.replace(' ', '_')}.{size}"
            paths[mode, size].write_bytes(make(size))
    return paths


def limit_file_size():
    # Writes past the limit are cut short, then fail with EFBIG (the
    # interpreter ignores SIGXFSZ): a full disk without root.
    resource.setrlimit(resource.RLIMIT_FSIZE, (LIMIT, LIMIT))


@pytest.fixture(scope="module")
def full_folder(tmp_path_factory):
    """(folder, preexec_fn, message): a small tmpfs when the tests run as root, as in CI; else a file-size limit."""
    where = tmp_path_factory.mktemp("tiny")
    if os.geteuid() != 0:
        yield where, limit_file_size, "File too large"  # the same short write, then a failure
        return
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={LIMIT}", "tmpfs", str(where)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip(f"running as root, but cannot mount a small tmpfs here: {mounted.stderr.strip()}")
    yield where, None, "No space left on device"
    subprocess.run(["umount", str(where)], check=True)


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("to_file", [False, True], ids=["stdout", "-o"])
def test_reader_leaving_early_is_status_1(mode, to_file, inputs):
    args, _ = MODES[mode]
    output = ["-o", "/dev/stdout"] if to_file else []  # -o opens the same pipe by name
    with subprocess.Popen([*PROG, *args, inputs[mode, 300_000], *output], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE) as proc:
        first = proc.stdout.read(1)  # as `| head -c1` does
        proc.stdout.close()
        stderr = proc.stderr.read()
        proc.wait(timeout=60)
    assert first and (proc.returncode, stderr) == (1, b"")  # quiet, as other tools are, but never success


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("to_file", [False, True], ids=["stdout", "-o"])
def test_full_destination_is_status_1(mode, to_file, inputs, full_folder):
    args, _ = MODES[mode]
    folder, limit, message = full_folder
    out = folder / "out"
    try:
        if to_file:
            out.write_bytes(b"old\n")
            result = subprocess.run([*PROG, *args, inputs[mode, 48_000], "-o", out], capture_output=True,
                                    preexec_fn=limit, timeout=60)
            name = out
            assert out.read_bytes() == b"old\n" and list(folder.iterdir()) == [out]  # no temporary file left
        else:
            with open(out, "wb") as destination:
                result = subprocess.run([*PROG, *args, inputs[mode, 48_000]], stdout=destination,
                                        stderr=subprocess.PIPE, preexec_fn=limit, timeout=60)
            name = "standard output"
            assert 0 < out.stat().st_size <= LIMIT  # cut short after a part was written
    finally:
        out.unlink(missing_ok=True)
    assert (result.returncode, result.stderr.decode()) == (1, f"vardelquin: error: cannot write {name}: {message}\n")


@pytest.mark.parametrize("args", [["--version"], ["loads", "--help"]])
@pytest.mark.parametrize("where, message", [
    ("full", "No space left on device"), ("closed", "it is closed"),
])
def test_help_and_version_that_cannot_be_written(args, where, message):
    # argparse prints them itself and ignores a failure; they go through the tool's own output instead.
    with open("/dev/full", "wb") as full:
        result = subprocess.run([*PROG, *args], stdout=full, stderr=subprocess.PIPE, timeout=60,
                                preexec_fn=(lambda: os.close(1)) if where == "closed" else None)
    assert result.returncode == 1
    assert result.stderr.decode() == f"vardelquin: error: cannot write standard output: {message}\n"


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("via", ["file", "symlink"])
def test_output_naming_the_input_converts_it_in_place(mode, via, inputs, tmp_path):
    # Many blocks: a file opened for writing over the input would cut it short after the first.
    args, _ = MODES[mode]
    data = tmp_path / "data"
    data.write_bytes(inputs[mode, 300_000].read_bytes())
    data.chmod(0o640)
    expected = subprocess.run([*PROG, *args, data], capture_output=True, check=True, timeout=60).stdout
    if via == "symlink":
        (tmp_path / "link").symlink_to("data")
    result = subprocess.run([*PROG, *args, data, "-o", tmp_path / ("link" if via == "symlink" else "data")],
                            capture_output=True, timeout=60)
    assert (result.returncode, result.stderr) == (0, b"")
    assert data.read_bytes() == expected and stat.S_IMODE(data.stat().st_mode) == 0o640
    assert sorted(path.name for path in tmp_path.iterdir()) == (["data", "link"] if via == "symlink" else ["data"])
    assert via == "file" or (tmp_path / "link").is_symlink()


def test_new_output_file_gets_the_mode_open_gives(tmp_path):
    # The umask applies to 0o666, as for any file the tool creates; a temporary file would be 0o600.
    subprocess.run([*PROG, "dumps", "-o", tmp_path / "out"], input=b"{}", check=True, timeout=60,
                   preexec_fn=lambda: os.umask(0o027))
    assert stat.S_IMODE((tmp_path / "out").stat().st_mode) == 0o640


def interrupted_stream(args, out):
    """Ctrl-C while the tool waits for more input, after it wrote its first records."""
    with subprocess.Popen([*PROG, *args, "-o", out], stdin=subprocess.PIPE, stderr=subprocess.PIPE,
                          preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL)) as proc:
        proc.stdin.write(b'{"a": 1}\n' if args[0] == "dumps" else b"a=1;\n")
        proc.stdin.flush()
        deadline = time.monotonic() + 60
        while len(list(out.parent.iterdir())) < 2:  # the replacement appears beside it when written to
            assert time.monotonic() < deadline, "the first record was never written"
            time.sleep(0.01)
        proc.send_signal(signal.SIGINT)
        return proc.wait(timeout=60)  # standard input still open: the run cannot end by itself


@pytest.mark.parametrize("args, data, status", [
    (["dumps", "--lines"], json_lines(300_000) + b'{"a": \n' + json_lines(1000), 1),
    (["loads", "--lines"], text_lines(300_000) + b"b=[1}2];\n" + text_lines(1000), 1),
    (["dumps"], b'{"a": [1, }', 1),
    (["loads"], b"a=[1}2];", 1),
    (["dumps", "--lines"], None, 130),
    (["loads", "--lines"], None, 130),
], ids=["dumps-lines", "loads-lines", "dumps", "loads", "dumps-lines-interrupted", "loads-lines-interrupted"])
def test_failed_run_leaves_the_output_file_as_it_was(args, data, status, tmp_path):
    out = tmp_path / "out"
    out.write_bytes(b"old\n")
    if data is None:
        assert interrupted_stream(args, out) == status
    else:
        assert subprocess.run([*PROG, *args, "-o", out], input=data, capture_output=True,
                              timeout=60).returncode == status
    assert out.read_bytes() == b"old\n" and list(tmp_path.iterdir()) == [out]  # no temporary file left


def test_devices_and_fifos_are_written_directly(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    received = []
    # A daemon: should the tool never open the FIFO, the reader stays blocked without holding up the tests.
    reader = threading.Thread(target=lambda: received.append(fifo.read_bytes()), daemon=True)
    reader.start()
    result = subprocess.run([*PROG, "loads", "--lines", "-o", fifo], input=b"a=1;\n", capture_output=True,
                            timeout=60)
    reader.join(timeout=60)
    assert (result.returncode, received) == (0, [b'{"a": 1}\n'])
    assert stat.S_ISFIFO(fifo.stat().st_mode) and list(tmp_path.iterdir()) == [fifo]
    assert subprocess.run([*PROG, "dumps", "-o", os.devnull], input=b'{"a": 1}', timeout=60).returncode == 0
    assert stat.S_ISCHR(os.stat(os.devnull).st_mode)
