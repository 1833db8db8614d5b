"""The benchmark suite runs end to end and prints its tables; timings are never asserted on."""
import ast
import json
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

BENCH = pathlib.Path(__file__).resolve().parents[2] / "benchmarks"
SHAPES = ("canada", "citm_catalog", "github_events", "twitter")


def load_benchmark_module(name):
    sys.path.insert(0, str(BENCH))
    try:
        return __import__(name)
    finally:
        sys.path.remove(str(BENCH))


def test_stand_ins_are_deterministic_and_of_the_corpus_shapes():
    shapes = load_benchmark_module("corpus_shapes")
    docs = {name: shapes.generate(name, 0.1) for name in SHAPES}
    assert {name: json.dumps(doc) for name, doc in docs.items()} == \
        {name: json.dumps(shapes.generate(name, 0.1)) for name in SHAPES}
    ring = docs["canada"]["features"][0]["geometry"]["coordinates"][0]
    assert len(ring) > 10 and all(isinstance(x, float) for point in ring for x in point)
    assert all(key.isdigit() for key in docs["citm_catalog"]["events"])
    assert any(ord(c) > 127 for status in docs["twitter"]["statuses"] for c in status["text"])
    events = docs["github_events"]["data"]
    assert any(e["org"] is None for e in events) and all(e["repo"]["url"].startswith("https://") for e in events)


LISTS = ("NAMES", "PEER_PACKAGES")  # the libraries compared, and those to install
def _importable(name):
    try:
        __import__(name)
    except ImportError:
        return False
    return True


CONSTANTS = {t.id: ast.literal_eval(node.value) for node in ast.parse((BENCH / "libraries.py").read_text()).body
             if isinstance(node, ast.Assign) for t in node.targets if getattr(t, "id", "") in LISTS}
PEERS_MISSING = [name for name in CONSTANTS["PEER_PACKAGES"] if not _importable(name)]
needs_peers = pytest.mark.skipif(bool(PEERS_MISSING), reason="benchmark requirements (benchmarks/requirements.txt) "
                                 "not installed")


@needs_peers
def test_quick_run_prints_the_tables():
    proc = subprocess.run([sys.executable, BENCH / "run.py", "--quick"], capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stderr
    out, lines = proc.stdout, proc.stdout.splitlines()
    assert out.startswith("vardelquin benchmark") and "CPU:" in out and "Python:" in out and "targets" in out
    for op in ("dumps", "loads"):
        assert any(line.startswith(f"{op}: ") and "per call" in line for line in lines), op
    workloads = ("record3", "escapes", "ints", "floats", "non_ascii", "short_strings", "long_text", "escape_first",
                 "escape_middle", "escape_last", "ints_nulls", "mesh", "versions", "prose", "version_index", "deep")
    for part in ("output size of dumps", "dumps: peak memory of one call, tracemalloc",
                 "loads: peak memory of one call, tracemalloc", *CONSTANTS["NAMES"], *(f"\n{w} " for w in workloads)):
        assert part in out, part
    # One verdict line per target, whatever the verdict, under a heading that says what FAIL means.
    assert len([line for line in lines if line.strip().startswith(("PASS", "FAIL", "N/A"))]) >= 6
    assert "FAIL marks a goal not met yet, not a failed run" in out


@needs_peers
def test_every_corpus_row_prints_without_the_corpus(tmp_path):
    # Only a tiny twitter.json where the environment variable points; the
    # other three documents are stand-ins.
    (tmp_path / "twitter.json").write_text('{"statuses": [{"text": "caf\\u00e9"}]}')
    env = dict(os.environ, VARDELQUIN_CORPUS=str(tmp_path))
    proc = subprocess.run([sys.executable, BENCH / "run.py", "--quick", "--no-rss"], capture_output=True, text=True,
                          timeout=600, env=env)
    assert proc.returncode == 0, proc.stderr
    rows = [line.split()[0] for line in proc.stdout.splitlines() if line.split()[:1] and line.split()[0] in SHAPES]
    assert rows.count("twitter") >= 3 and all(rows.count(name) == rows.count("twitter") for name in SHAPES)
    assert f"corpus: {tmp_path} (synthetic stand-ins: canada, citm_catalog, github_events)" in proc.stdout
    assert "twitter: twitter.json, " in proc.stdout and "geomean (4 corpus docs)" in proc.stdout


def test_records_run_prints_every_record_and_operation():
    # The peers are optional here: a missing one is left out with a note.
    proc = subprocess.run([sys.executable, BENCH / "run.py", "--records", "--quick", "--repeats", "2"],
                          capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    out, lines = proc.stdout, proc.stdout.splitlines()
    assert out.startswith("vardelquin records benchmark") and "CPU:" in out
    for op in ("dumps", "loads"):
        assert any(line.startswith(f"records {op}: ") and "minimum and median" in line for line in lines), op
    for record in ("record3", "log10", "mixed25"):
        assert len([line for line in lines if line.startswith((f"{record} min ", f"{record} median "))]) == 4, record
    for name in PEERS_MISSING:
        assert f"{name} is not installed" in out


def test_scale_run_prints_time_and_memory_per_size():
    proc = subprocess.run([sys.executable, BENCH / "run.py", "--scale", "--quick"], capture_output=True, text=True,
                          timeout=300)
    assert proc.returncode == 0, proc.stderr
    lines = proc.stdout.splitlines()
    assert any(line.startswith("dumps of one string: thread CPU time per byte") for line in lines)
    assert any(line.startswith("dumps of one string: resident high-water growth") for line in lines)
    assert [line.split()[:2] for line in lines if line.endswith("x") and line[:1].isdigit()] == [["1", "MB"],
                                                                                              ["10", "MB"]]
    assert len([line for line in lines if line.strip().startswith(("PASS", "FAIL"))]) == 2


@pytest.mark.parametrize("args", [[], ["--records"]])
def test_a_run_without_the_module_points_to_the_project_environment(args):
    script = ("import runpy, sys; sys.modules['vardelquin'] = None; "
              f"sys.argv = ['run.py', *{args!r}]; runpy.run_path({str(BENCH / 'run.py')!r}, run_name='__main__')")
    proc = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert proc.returncode == 2 and proc.stdout == ""
    assert proc.stderr.startswith("cannot import vardelquin with ")
    assert ".venv/bin/python benchmarks/run.py" in proc.stderr


def test_records_match_their_description():
    records = load_benchmark_module("records")
    docs = {r.name: r.doc for r in records.all_records()}
    assert docs["record3"] == {"id": 7, "name": "mirl", "ok": True}
    assert [len(docs[name]) for name in ("record3", "log10", "mixed25")] == [3, 10, 25]
    kinds = {type(v) for v in docs["log10"].values()}
    assert kinds == {str, int, float, bool, type(None), list, dict}
    assert [len(v) for v in docs["log10"].values() if isinstance(v, dict)] == [2]


CALLGRIND_READY = shutil.which("valgrind") and pathlib.Path("/usr/include/valgrind/callgrind.h").exists()


@pytest.mark.skipif(not CALLGRIND_READY, reason="valgrind (with valgrind/callgrind.h) not installed")
def test_instruction_counts_print_a_positive_count_per_cell():
    proc = subprocess.run([sys.executable, BENCH / "instructions.py", "--quick"], capture_output=True, text=True,
                          timeout=300)
    assert proc.returncode == 0, proc.stderr
    rows = [line.split() for line in proc.stdout.splitlines() if line.split()[:1] in (["record3"], ["log10"],
                                                                                      ["mixed25"])]
    assert [(r[0], r[1]) for r in rows] == [(rec, op) for rec in ("record3", "log10", "mixed25")
                                            for op in ("dumps", "loads")]
    # vardelquin's count and the loop's: whole numbers above zero.
    assert all(int(r[2].replace(",", "")) > 0 and int(r[-1].replace(",", "")) > 0 for r in rows)


def test_logging_run_prints_both_tables_and_every_target():
    # The peers are optional here: a missing one is left out, its targets N/A.
    proc = subprocess.run([sys.executable, BENCH / "logging_bench.py", "--quick", "--repeats", "1",
                           "--batch-ms", "0.2"], capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    lines = proc.stdout.splitlines()
    assert [line.split(":")[0] for line in lines if line.endswith("is faster)")] == ["Formatter.format", "Renderer"]
    assert [line.split()[:2] for line in lines if line.split()[1:2] in (["min"], ["median"])] == \
        [[record, stat] for _ in range(2) for record in ("plain", "extra10", "exception") for stat in ("min", "median")]
    assert len([line for line in lines if line.strip().startswith(("PASS", "FAIL", "N/A"))]) == 9
