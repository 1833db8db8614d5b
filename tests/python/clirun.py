"""Running the command-line tool as a separate process, and reading its results."""
import subprocess
import sys


def run_cli(*args, stdin=b"", cwd=None, prog=(sys.executable, "-m", "vardelquin_cli"), **options):
    return subprocess.run([*prog, *map(str, args)], input=stdin, capture_output=True, cwd=cwd, timeout=120,
                          **options)


def ok(result):
    assert (result.returncode, result.stderr) == (0, b""), result.stderr.decode("utf-8", "replace")
    return result.stdout.decode("utf-8")


def failure(result, status):
    assert (result.returncode, result.stdout) == (status, b""), result.stderr
    return result.stderr.decode("utf-8")
