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
STUB = pathlib.Path(importlib.util.find_spec("vardelquin").origin).parent / "vardelquin-stubs" / "__init__.pyi"
MISUSES = [  # each must be rejected
    "vardelquin.dumps([1, 2])", "vardelquin.dumps({1: 'a'})", "vardelquin.dumps(types.MappingProxyType({}))",
    "vardelquin.dumps({}, config={})",
    "vardelquin.loads(b'a=1;')", "n: int = vardelquin.dumps({})", "t: list[object] = vardelquin.loads('a=1;')",
    "vardelquin.FormatConfig(field_sep=None)", "vardelquin.FormatConfig(separator=';')",
    "vardelquin.FormatConfig(';', '=', '[', ']', '|', '{', '}', '%', 'n', 't', 'f', 'x')",
    "k: int = vardelquin.FormatConfig().kv_sep", "vardelquin.FormatConfig().null_str = None",
    "vardelquin.FormatConfig().special_chars(1)", "s: list[int] = vardelquin.FormatConfig().special_chars()",
    "class Sub(vardelquin.FormatConfig): pass", "vardelquin.InternalFailure",
]


def python(*args, cwd):
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, cwd=cwd, timeout=300)


def test_stubtest_and_strict_checking(tmp_path):
    assert STUB.is_file()
    example = REPO_ROOT / "examples" / "typed_usage.py"
    for args in (["-m", "mypy.stubtest", "vardelquin"], ["-m", "mypy", "--strict", example], [example],
                 ["-m", "mypy", "--strict", REPO_ROOT / "src" / "python" / "vardelquin_cli"],
                 ["-m", "mypy", "--strict", REPO_ROOT / "src" / "python" / "vardelquin_logging"]):
        result = python(*args, cwd=tmp_path)  # mypy's cache goes to tmp_path
        assert result.returncode == 0, result.stdout + result.stderr


def test_misuses_are_rejected(tmp_path):
    header = "from __future__ import annotations\nimport types, vardelquin\n"
    (tmp_path / "misuse.py").write_text(header + "\n".join(MISUSES))
    report = python("-m", "mypy", "--strict", "--no-error-summary", "misuse.py", cwd=tmp_path).stdout
    assert "Cannot find implementation or library stub" not in report
    assert [line for line in range(3, len(MISUSES) + 3) if f"misuse.py:{line}: error:" not in report] == []


def test_stub_docstrings_match_the_module():
    tree = ast.parse(STUB.read_text("utf-8"))
    functions = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    for name in ("dumps", "loads"):
        assert ast.get_docstring(functions[name]) == inspect.cleandoc(getattr(vardelquin, name).__doc__)
