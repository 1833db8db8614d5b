"""The benchmark suite runs end to end and prints its tables.

Only that it runs is checked: timings are never asserted on.
"""

import os
import subprocess
import sys

import pytest

for _name in ("orjson", "ujson", "msgspec"):
    pytest.importorskip(_name, reason="benchmark requirements (benchmarks/requirements.txt) not installed")

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RUN = os.path.join(REPO, "benchmarks", "run.py")


def test_quick_run_prints_the_tables():
    proc = subprocess.run(
        [sys.executable, RUN, "--quick"],
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert proc.returncode == 0, proc.stderr
    out = proc.stdout
    assert out.startswith("vardelquin benchmark")
    assert "CPU:" in out and "Python:" in out
    lines = out.splitlines()
    for op in ("dumps", "loads"):
        assert any(line.startswith(f"{op}: ") and "per call" in line for line in lines), op
    for title in (
        "output size of dumps",
        "dumps: peak memory of one call, tracemalloc",
        "loads: peak memory of one call, tracemalloc",
    ):
        assert title in out, title
    for name in ("vardelquin", "json", "orjson", "ujson", "msgspec"):
        assert name in out
    for workload in ("record3", "escapes", "ints", "floats", "non_ascii", "deep"):
        assert f"\n{workload} " in out, workload
    assert "targets" in out
    # One verdict line per target, whatever the verdict.
    verdicts = [line.split()[0] for line in lines
                if line.strip().startswith(("PASS", "FAIL", "N/A"))]
    assert len(verdicts) >= 6
