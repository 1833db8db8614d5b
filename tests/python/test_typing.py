"""The shipped type information: it matches the module, and a type checker uses it."""

import ast
import importlib.util
import inspect
import pathlib
import subprocess
import sys

import pytest

import vardelquin

pytest.importorskip("mypy", reason="the type checker (mypy) is not installed")

REPO_ROOT = pathlib.Path(__file__).resolve().parents[2]
TYPED_EXAMPLE = REPO_ROOT / "examples" / "typed_usage.py"


def installed_stub():
    origin = pathlib.Path(importlib.util.find_spec("vardelquin").origin)
    return origin.parent / "vardelquin-stubs" / "__init__.pyi"


def mypy(*args, cwd):
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--no-error-summary", "--cache-dir", str(cwd / ".cache"), *map(str, args)],
        capture_output=True,
        text=True,
        cwd=cwd,
        timeout=300,
    )


def test_stubs_are_installed_beside_the_module():
    assert installed_stub().is_file()


def test_stubtest_finds_no_mismatch(tmp_path):
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "vardelquin"],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        timeout=300,
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_typed_example_passes_strict_checking(tmp_path):
    result = mypy("--strict", TYPED_EXAMPLE, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
    example = subprocess.run([sys.executable, TYPED_EXAMPLE], capture_output=True, text=True, timeout=60)
    assert example.returncode == 0, example.stderr


def test_command_line_tool_passes_strict_checking(tmp_path):
    result = mypy("--strict", REPO_ROOT / "src" / "python" / "vardelquin_cli", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


# Each line is a misuse that the type information must reject.
MISUSES = [
    "vardelquin.dumps([1, 2])",
    "vardelquin.dumps({1: 'a'})",
    "vardelquin.dumps({}, config={})",
    "vardelquin.loads(b'a=1;')",
    "n: int = vardelquin.dumps({})",
    "t: list[object] = vardelquin.loads('a=1;')",
    "vardelquin.FormatConfig(field_sep=None)",
    "vardelquin.FormatConfig(separator=';')",
    "vardelquin.FormatConfig(';', '=', '[', ']', '|', '{', '}', '%', 'n', 't', 'f', 'x')",
    "k: int = vardelquin.FormatConfig().kv_sep",
    "vardelquin.FormatConfig().null_str = None",
    "vardelquin.FormatConfig().special_chars(1)",
    "s: list[int] = vardelquin.FormatConfig().special_chars()",
    "vardelquin.FormatConfig().missing",
    "class Sub(vardelquin.FormatConfig): pass",
    "vardelquin.InternalFailure",
]


@pytest.fixture(scope="module")
def misuse_report(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("misuse")
    program = tmp / "misuse.py"
    program.write_text("from __future__ import annotations\nimport vardelquin\n" + "\n".join(MISUSES) + "\n")
    result = mypy("--strict", program, cwd=tmp)
    assert "error: Cannot find implementation or library stub" not in result.stdout
    return result.stdout


@pytest.mark.parametrize("line", range(len(MISUSES)), ids=MISUSES)
def test_misuse_is_rejected(misuse_report, line):
    assert f"misuse.py:{line + 3}: error:" in misuse_report


@pytest.mark.parametrize("name", ["dumps", "loads"])
def test_stub_docstrings_match_the_module(name):
    tree = ast.parse(installed_stub().read_text(encoding="utf-8"))
    functions = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert ast.get_docstring(functions[name]) == inspect.cleandoc(getattr(vardelquin, name).__doc__)
