"""The benchmark suite runs end to end and prints its tables; timings are never asserted on."""
import ast
import pathlib
import subprocess
import sys

import pytest

BENCH = pathlib.Path(__file__).resolve().parents[2] / "benchmarks"
LISTS = ("NAMES", "PEER_PACKAGES")  # the libraries compared, and those to install
CONSTANTS = {t.id: ast.literal_eval(node.value) for node in ast.parse((BENCH / "libraries.py").read_text()).body
             if isinstance(node, ast.Assign) for t in node.targets if getattr(t, "id", "") in LISTS}
for _name in CONSTANTS["PEER_PACKAGES"]:
    pytest.importorskip(_name, reason="benchmark requirements (benchmarks/requirements.txt) not installed")


def test_quick_run_prints_the_tables():
    proc = subprocess.run([sys.executable, BENCH / "run.py", "--quick"], capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stderr
    out, lines = proc.stdout, proc.stdout.splitlines()
    assert out.startswith("vardelquin benchmark") and "CPU:" in out and "Python:" in out and "targets" in out
    for op in ("dumps", "loads"):
        assert any(line.startswith(f"{op}: ") and "per call" in line for line in lines), op
    workloads = ("record3", "escapes", "ints", "floats", "non_ascii", "deep")
    for part in ("output size of dumps", "dumps: peak memory of one call, tracemalloc",
                 "loads: peak memory of one call, tracemalloc", *CONSTANTS["NAMES"], *(f"\n{w} " for w in workloads)):
        assert part in out, part
    # One verdict line per target, whatever the verdict.
    assert len([line for line in lines if line.strip().startswith(("PASS", "FAIL", "N/A"))]) >= 6
