"""Imports in sub-interpreters are refused without using up the main interpreter's one initialisation.

Each case runs in a fresh process, on every CPython 3.9+ found on the machine, with each way of making
a sub-interpreter that the interpreter offers: the legacy shared-lock one, and isolated ones (3.12's
_xxsubinterpreters, 3.13's _interpreters).
"""
import glob
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import vardelquin

REFUSED = "ImportError: vardelquin does not support sub-interpreters"
REIMPORT_MESSAGE = ("Quillon modules compiled for CPython 3.8 or older "
                    "may only be initialized once per interpreter process")

SCRIPT = textwrap.dedent("""
    import os, sys
    runner, order, report = sys.argv[1:]
    SUB = '''
    import sys
    try:
        import vardelquin
        outcome = "imported"
    except BaseException as exc:
        outcome = type(exc).__name__ + ": " + str(exc)
    with open(%r, "a") as out:
        out.write(outcome + " | " + str("vardelquin" in sys.modules) + "\\\\n")
    ''' % report

    def in_sub_interpreter():
        if runner == "legacy":
            import _testcapi
            _testcapi.run_in_subinterp(SUB)
        elif runner == "_xxsubinterpreters":
            import _xxsubinterpreters as interpreters
            interpreters.run_string(interpreters.create(), SUB)
        else:
            import _interpreters as interpreters
            interpreters.run_string(interpreters.create(), SUB)

    def main_works():
        import vardelquin
        assert vardelquin.__all__ == ["FormatConfig", "dumps", "loads"] and vardelquin.__doc__ == ""
        assert vardelquin.dumps({"a": [1]}, vardelquin.FormatConfig(",")) == "a=[1],"
        assert vardelquin.loads("a=1;") == {"a": 1}
        return vardelquin

    try:
        __import__("_testcapi" if runner == "legacy" else runner)
    except ImportError:
        sys.exit(3)
    if order == "sub-first":
        in_sub_interpreter()
        in_sub_interpreter()
        first = main_works()
    else:
        first = main_works()
        in_sub_interpreter()
        first = main_works()
    import importlib
    assert importlib.reload(first) is first
    del sys.modules["vardelquin"]
    try:
        import vardelquin
    except ImportError as exc:
        print(type(exc).__name__ + ": " + str(exc))
    assert first.loads("b=2;") == {"b": 2}
""")


def interpreters():
    """The running interpreter and every other CPython 3.9+ found in the usual places, one per version."""
    found = {sys.version_info[:2]: sys.executable}
    candidates = [shutil.which("python3.%d" % minor) for minor in range(9, 20)]
    candidates += sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/3.*/bin/python3")))
    for path in filter(None, candidates):
        name = os.path.basename(os.path.dirname(os.path.dirname(path)))
        version = name.split(".")[:2] if "pyenv" in path else os.path.basename(path)[6:].split(".")[:2]
        try:
            key = (int(version[0]), int(version[1]))
        except (ValueError, IndexError):
            continue
        if key >= (3, 9):
            found.setdefault(key, path)
    return [pytest.param(path, id="%d.%d" % key) for key, path in sorted(found.items())]


@pytest.fixture(scope="module")
def module_dir(tmp_path_factory):
    # Only the module itself: the other interpreters must not see this one's site-packages.
    where = tmp_path_factory.mktemp("module")
    shutil.copy(vardelquin.__file__, where)
    return where


@pytest.mark.parametrize("order", ["sub-first", "main-first"])
@pytest.mark.parametrize("runner", ["legacy", "_xxsubinterpreters", "_interpreters"])
@pytest.mark.parametrize("python", interpreters())
def test_sub_interpreter_import_refused(python, runner, order, module_dir, tmp_path):
    report = tmp_path / "report"
    env = dict(os.environ, PYTHONPATH=str(module_dir))
    done = subprocess.run([python, "-c", SCRIPT, runner, order, str(report)], env=env, cwd=str(tmp_path),
                          capture_output=True, text=True, timeout=120)
    if done.returncode == 3:
        pytest.skip("%s has no %s" % (python, runner))
    assert done.returncode == 0, done.stderr
    refusals = 2 if order == "sub-first" else 1
    assert report.read_text().splitlines() == [REFUSED + " | False"] * refusals
    assert done.stdout == "ImportError: " + REIMPORT_MESSAGE + "\n"
