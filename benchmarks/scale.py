"""The scale workload: one long string, written by dumps at growing sizes.

    .venv/bin/python benchmarks/run.py --scale [--quick] [--markdown]

One ASCII string without delimiters, of 1, 10 and 100 MB (1 and 10 MB with
--quick), under one key. For each size and library: the thread CPU time of
one call per byte (the minimum over a few calls, so that a flat row means
the cost per byte does not grow with the size), and the growth of the
resident high-water mark over one call in a fresh process, as a multiple
of the string's size (the result itself is one such size).
"""

from __future__ import annotations

import os
import pickle
import subprocess
import sys
import tempfile
import time
from typing import Any, Callable, Dict, List, Optional

import libraries
from report import Table, targets_block

HERE = os.path.dirname(os.path.abspath(__file__))
NAMES = ("vardelquin", "json", "orjson", libraries.SORTED_STR)
MB = 1_000_000


def document(size: int) -> Dict[str, Any]:
    letters = b"abcdefghijklmnopqrstuvwxyz0123456789 .,:-_/"
    block = bytes(letters[(i * 7 + i // 43) % len(letters)] for i in range(4096)).decode("ascii")
    return {"blob": (block * (size // len(block) + 1))[:size]}


def cpu_per_byte(fn: Callable[[Any], Any], doc: Dict[str, Any], size: int, calls: int) -> float:
    best = float("inf")
    for _ in range(calls):
        c0 = time.thread_time()
        result = fn(doc)
        best = min(best, time.thread_time() - c0)
        del result
    return best / size


def rss_growth(name: str, doc_path: str) -> Optional[int]:
    probe = os.path.join(HERE, "rss_probe.py")
    proc = subprocess.run([sys.executable, probe, name, "dumps", doc_path], capture_output=True, text=True,
                          timeout=600)
    out = proc.stdout.strip()
    return int(out) if proc.returncode == 0 and out.isdigit() else None


def main(args: Any, machine_lines: Callable[[List[Any]], List[str]], log: Callable[[str], None]) -> int:
    libs = []
    for name in NAMES:
        try:
            libs.append(libraries.load(name))
        except ImportError as e:
            if name == libraries.SUBJECT:
                raise
            log(f"{e.name or name} is not installed: the columns of {name} are left out")
    sizes = [1 * MB, 10 * MB] if args.quick else [1 * MB, 10 * MB, 100 * MB]
    per_byte: Dict[tuple, float] = {}
    growth: Dict[tuple, Optional[int]] = {}
    with tempfile.TemporaryDirectory(prefix="vardelquin-scale-") as tmp:
        for size in sizes:
            doc = document(size)
            path = os.path.join(tmp, f"{size}.pickle")
            with open(path, "wb") as f:
                pickle.dump(doc, f, protocol=pickle.HIGHEST_PROTOCOL)
            calls = 3 if size >= 100 * MB else 7
            for lib in libs:
                per_byte[(size, lib.name)] = cpu_per_byte(lib.dumps, doc, size, calls)
                growth[(size, lib.name)] = rss_growth(lib.name, path)
            log(f"  scale {size // MB} MB")
            del doc

    names = [lib.name for lib in libs]
    speed = Table("dumps of one string: thread CPU time per byte (minimum over 3-7 calls)", ["size"] + names)
    memory = Table("dumps of one string: resident high-water growth of one call, as a multiple of the string's size",
                   ["size"] + names)
    for size in sizes:
        speed.rows.append([f"{size // MB} MB"] + [f"{per_byte[(size, n)] * 1e9:.2f} ns" for n in names])
        memory.rows.append([f"{size // MB} MB"] + [
            f"{g / size:.2f}x" if (g := growth[(size, n)]) is not None else "error" for n in names])
    mine = [per_byte[(s, libraries.SUBJECT)] for s in sizes]
    flat = max(mine) / min(mine)
    worst_growth = max((growth[(s, libraries.SUBJECT)] or 0) / s for s in sizes)
    verdicts = [
        f"{'PASS' if flat <= 1.5 else 'FAIL'}  cost per byte flat from {sizes[0] // MB} to {sizes[-1] // MB} MB "
        f"(largest / smallest <= 1.5): {flat:.2f}",
        f"{'PASS' if worst_growth < 2.5 else 'FAIL'}  peak growth below 2.5x the string's size: {worst_growth:.2f}x",
    ]
    header = machine_lines(libs)
    if args.markdown:
        out = ["### Machine", "", *(f"- {h}" for h in header), "", speed.markdown(), "", memory.markdown(), "",
               *targets_block(verdicts, markdown=True)]
    else:
        out = ["vardelquin scale benchmark", *(f"  {h}" for h in header), "", speed.text(), "", memory.text(), "",
               *targets_block(verdicts, markdown=False)]
    print("\n".join(out))
    return 0
