#!/usr/bin/env python3
"""Instructions per call on the records workload, counted by callgrind.

    .venv/bin/python benchmarks/instructions.py [--calls N] [--quick] [--markdown]
    .venv/bin/python benchmarks/instructions.py --corpus [DIR] [--calls N] [--markdown]

Needs valgrind (Debian: apt-get install valgrind, which also brings the
header valgrind/callgrind.h) and a C compiler. Wall-clock figures on a
shared machine move with whatever else runs; instruction counts do not, so
they show small changes to the fixed cost of a call that timing cannot.

One process runs under `valgrind --tool=callgrind --collect-atstart=no`.
For every record, library and operation it warms the call up, then runs a
loop of N calls and a loop of 2N calls, each between two client requests
that switch collection on and off, and dumps the count after each. The
difference of the two counts divided by N is one call's instructions, with
the constant cost of entering and leaving the loop taken out; the loop's
own cost per iteration (a call of the builtin id() measures it) stays in
and is reported apart. The collector is on, so a call's share of the
collections its allocations trigger is counted too.

With --corpus the cells are the corpus documents instead of the records
(DIR as for run.py; stand-ins replace missing documents), N defaults to 2,
and only vardelquin, json, orjson and orjson_sorted_str are counted: a few
minutes.
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import glob
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import time
from typing import Any, Callable, Dict, Iterable, List, Optional, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import libraries  # noqa: E402
import records  # noqa: E402
import workloads  # noqa: E402
from report import Table  # noqa: E402

MARKS_SOURCE = os.path.join(HERE, "callgrind_marks.c")
LOOP = "loop"  # the library name of the loop-cost cells
TRIGGER = "desc: Trigger: Client Request: "  # a dump's line that carries its name
CORPUS_LIBRARIES = ("vardelquin", "json", "orjson", libraries.SORTED_STR)


def log(msg: str) -> None:
    print(msg, file=sys.stderr, flush=True)


# --- inside valgrind ---------------------------------------------------------

def run_loop(fn: Callable[[Any], Any], args: Iterable[Any]) -> None:
    # The warm-up and the measured loops run this same code, so the
    # interpreter has specialised it before anything is counted.
    for a in args:
        fn(a)


def drive(marks_path: str, calls: int, warmup: int, corpus: Optional[str]) -> None:
    """Runs every cell under callgrind and prints the cells and the skipped-peer notes as JSON."""
    marks = ctypes.CDLL(marks_path)
    toggle, dump = marks.marks_toggle_collect, marks.marks_dump
    dump.argtypes = [ctypes.c_char_p]
    libs, skipped = records.load_libraries()
    if corpus is None:
        recs: List[Any] = records.all_records()
    else:
        libs = [lib for lib in libs if lib.name in CORPUS_LIBRARIES]
        recs = workloads.load_corpus(corpus if os.path.isdir(corpus) else None)
    args = records.inputs(recs, libs)
    cells: List[Tuple[str, str, str, Callable[[Any], Any], Any]] = []
    for rec in recs:
        for op in records.OPS:
            cells.append((rec.name, op, LOOP, id, args[(rec.name, op, records.SUBJECT)]))
            for lib in libs:
                fn = records.operations(lib).get(op)
                if fn is not None:
                    cells.append((rec.name, op, lib.name, fn, args[(rec.name, op, lib.name)]))
    marks.marks_start_instrumentation()
    for rec_name, op, lib_name, fn, arg in cells:
        run_loop(fn, libraries.call_arguments(op, arg, warmup))
        for n in (calls, 2 * calls):
            args = libraries.call_arguments(op, arg, n)  # loads: fresh copies, made before counting
            gc.collect()
            toggle()
            run_loop(fn, args)
            toggle()
            del args
            dump(f"{rec_name}/{op}/{lib_name}/{n}".encode())
    print(json.dumps({"cells": [c[:3] for c in cells], "skipped": skipped}))


# --- outside -----------------------------------------------------------------

def run_default_corpus() -> str:
    return os.environ.get("VARDELQUIN_CORPUS") or os.path.normpath(os.path.join(HERE, "..", "..", "shared", "data",
                                                                                   "corpus"))


def build_marks(tmp: str) -> str:
    cc = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc") or shutil.which("clang")
    if not cc:
        raise SystemExit("no C compiler found (set CC)")
    out = os.path.join(tmp, "callgrind_marks.so")
    proc = subprocess.run([cc, "-O2", "-shared", "-fPIC", "-o", out, MARKS_SOURCE], capture_output=True, text=True)
    if proc.returncode != 0:
        raise SystemExit(f"cannot build {os.path.relpath(MARKS_SOURCE)} (valgrind/callgrind.h comes with Debian's "
                         f"valgrind package):\n{proc.stderr}")
    return out


def read_dumps(tmp: str) -> Dict[str, int]:
    """Collected instructions by dump name."""
    counts: Dict[str, int] = {}
    for path in glob.glob(os.path.join(tmp, "callgrind.out.*")):
        name: Optional[str] = None
        total: Optional[int] = None
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith(TRIGGER):
                    name = line[len(TRIGGER):].strip()
                elif line.startswith(("totals:", "summary:")):
                    total = int(line.split()[1])
        if name is not None and total is not None:
            counts[name] = total
    return counts


def count(calls: int, warmup: int,
          corpus: Optional[str]) -> Tuple[Dict[Tuple[str, str, str], float], List[str], float]:
    """Instructions per call of every (record, op, library) cell, the skipped-peer notes, and the seconds taken."""
    if not shutil.which("valgrind"):
        raise SystemExit("valgrind not found (Debian: apt-get install valgrind)")
    started = time.perf_counter()
    with tempfile.TemporaryDirectory(prefix="vardelquin-callgrind-") as tmp:
        marks = build_marks(tmp)
        cmd = ["valgrind", "--tool=callgrind", "--collect-atstart=no", "--instr-atstart=no",
               "--dump-instr=no", "--dump-line=no", f"--callgrind-out-file={tmp}/callgrind.out.%p",
               sys.executable, os.path.abspath(__file__), "--drive", marks, "--calls", str(calls),
               "--warmup", str(warmup), *(["--corpus", corpus] if corpus is not None else [])]
        # A fixed string hash seed makes the counts repeat from run to run.
        env = dict(os.environ, PYTHONHASHSEED="0")
        proc = subprocess.run(cmd, capture_output=True, text=True, env=env)
        if proc.returncode != 0:
            raise SystemExit(f"the callgrind run failed ({proc.returncode}):\n{proc.stderr[-3000:]}")
        result = json.loads(proc.stdout.strip().splitlines()[-1])
        counts = read_dumps(tmp)
    per_call: Dict[Tuple[str, str, str], float] = {}
    for rec, op, lib in result["cells"]:
        one = counts.get(f"{rec}/{op}/{lib}/{calls}")
        two = counts.get(f"{rec}/{op}/{lib}/{2 * calls}")
        if one is None or two is None:
            raise SystemExit(f"no callgrind dump for {rec} {op} {lib}")
        per_call[(rec, op, lib)] = (two - one) / calls
    return per_call, result["skipped"], time.perf_counter() - started


def table(per_call: Dict[Tuple[str, str, str], float], calls: int, what: str) -> Table:
    recs = list(dict.fromkeys(k[0] for k in per_call))
    names = [n for n in records.NAMES if any(k[2] == n for k in per_call)]
    first = "record" if what == "records" else "document"
    t = Table(f"{what}: instructions per call (callgrind; loops of {calls:,} and {2 * calls:,} calls; "
              "peer / vardelquin in parentheses)", [first, "op", *names, "loop"])
    for rec in recs:
        for op in records.OPS:
            mine = per_call.get((rec, op, records.SUBJECT))
            row = [rec, op]
            for name in names:
                value = per_call.get((rec, op, name))
                if value is None:
                    row.append("–")
                    continue
                cell = f"{value:,.0f}"
                if name != records.SUBJECT and mine:
                    cell += f" ({value / mine:.2f}x)"
                row.append(cell)
            loop = per_call.get((rec, op, LOOP))
            row.append("-" if loop is None else f"{loop:,.0f}")
            t.rows.append(row)
    return t


def main(argv: Optional[List[str]] = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--calls", type=int, default=None, help="N, the shorter loop's calls (default 200, quick 40)")
    ap.add_argument("--quick", action="store_true", help="short loops: a smoke run, the figures are rougher")
    ap.add_argument("--markdown", action="store_true", help="print the table as Markdown")
    ap.add_argument("--corpus", metavar="DIR", nargs="?", const=run_default_corpus(),
                    help="count the corpus documents instead of the records (default DIR: as run.py's)")
    ap.add_argument("--drive", metavar="MARKS", help=argparse.SUPPRESS)  # inside valgrind
    ap.add_argument("--warmup", type=int, default=None, help=argparse.SUPPRESS)
    args = ap.parse_args(argv)
    if args.corpus is not None:
        calls, warmup = args.calls or 2, args.warmup or 1
    else:
        calls = args.calls or (40 if args.quick else 200)
        warmup = args.warmup or (20 if args.quick else 100)
    if args.drive:
        drive(args.drive, calls, warmup, args.corpus)
        return 0

    log("counting instructions under callgrind")
    per_call, skipped, seconds = count(calls, warmup, args.corpus)
    header = [
        f"Python: {platform.python_implementation()} {sys.version.split()[0]}; "
        f"{platform.system()} {platform.machine()}; {time.strftime('%Y-%m-%d')}; {seconds:.0f} s",
        "Each cell: (instructions of a loop of 2N calls - those of a loop of N calls) / N, after a warm-up, "
        "collector on, PYTHONHASHSEED=0. The loop column is the cost of one iteration of the measured loop "
        "itself (a call of the builtin id()), which every cell includes.",
        *skipped,
    ]
    what = "records" if args.corpus is None else "corpus"
    if args.corpus is not None:
        header.append(f"Corpus: {args.corpus}")
    t = table(per_call, calls, what)
    if args.markdown:
        print("\n".join([*(f"- {h}" for h in header), "", t.markdown()]))
    else:
        print("\n".join([f"vardelquin {what}: instructions per call", *(f"  {h}" for h in header), "", t.text()]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
