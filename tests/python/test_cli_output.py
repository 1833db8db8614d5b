"""Output that cannot be written in full: the tool fails with status 1, whatever the mode and destination.

A short write (a disk that fills up part-way through a block, a reader that
leaves while a block is in the pipe) is the case that a buffered stream lets
through as a smaller count; each run here meets one.
"""
import json
import os
import subprocess
import sys

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
            result = subprocess.run([*PROG, *args, inputs[mode, 48_000], "-o", out], capture_output=True,
                                    preexec_fn=limit, timeout=60)
            name = out
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
