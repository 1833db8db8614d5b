"""The README's examples of threads, worker processes and a dask cluster, run as a user would."""
import ast
import collections
import multiprocessing
import os
import pathlib
import pickle
import subprocess
import sys

import pytest

import vardelquin
from vardelquin import FormatConfig

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
sys.path.insert(0, str(EXAMPLES))

import parallel_processes  # noqa: E402
import read_hold  # noqa: E402

DIALECT = FormatConfig(field_sep=",", kv_sep=":", null_str="-", escape="%")
RECORDS = [{"id": i, "level": ("info", "warn", "error")[i % 3], "msg": f"a,b%{i}", "parent": None, "l": [i, "x|y"]}
           for i in range(3000)]


def test_a_config_does_not_pickle():  # which is why the examples send its fields
    with pytest.raises(TypeError):
        pickle.dumps(DIALECT)


@pytest.mark.parametrize("start_method", ["spawn", "fork"])
def test_worker_processes(start_method):
    if start_method not in multiprocessing.get_all_start_methods():
        pytest.skip(f"no {start_method} start method on this system")
    texts = parallel_processes.dumps_all(RECORDS, DIALECT, start_method)
    assert texts == [vardelquin.dumps(r, DIALECT) for r in RECORDS]
    assert parallel_processes.loads_all(texts, DIALECT, start_method) == RECORDS


def test_read_hold():
    config = FormatConfig()
    assert read_hold.change_during_dumps(config) == ("Already borrowed", "a=slow;")
    assert config.kv_sep == "="


def test_dask_bag_on_a_local_cluster(tmp_path):
    pytest.importorskip("dask.bag")
    pytest.importorskip("distributed")
    for part in range(3):  # files of line records, with a blank line
        lines = [vardelquin.dumps(r) for r in RECORDS[part::3]]
        (tmp_path / f"records-{part}.txt").write_text("\n".join(lines[:5] + [""] + lines[5:]) + "\n")
    # As a script, so that its functions travel to the workers by value.
    proc = subprocess.run([sys.executable, EXAMPLES / "dask_lines.py", *sorted(tmp_path.glob("*.txt"))],
                          capture_output=True, text=True, cwd=tmp_path, timeout=120)
    assert proc.returncode == 0, proc.stderr
    assert ast.literal_eval(proc.stdout.strip()) == collections.Counter(r["level"] for r in RECORDS)


def test_dask_example_without_dask_names_the_install_command():
    script = ("import runpy, sys; sys.modules['dask'] = sys.modules['distributed'] = None; "
              f"sys.argv = ['dask_lines.py', 'x.txt']; runpy.run_path({str(EXAMPLES / 'dask_lines.py')!r}, "
              "run_name='__main__')")
    proc = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert proc.returncode == 1 and "Traceback" not in proc.stderr
    # The interpreter named is the one that ran the example, however its path is spelled (a venv reached
    # through a symbolic link gives the child another spelling of the same file).
    named = proc.stderr.rstrip("\n").rsplit("\n", 1)[-1].strip()
    assert named.endswith(' -m pip install "dask[bag]" distributed'), proc.stderr
    assert os.path.samefile(named[:-len(' -m pip install "dask[bag]" distributed')], sys.executable)
