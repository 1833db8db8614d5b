"""The records workload: the fixed cost of one call on a small record.

    .venv/bin/python benchmarks/run.py --records [--quick] [--markdown] [--repeats N] [--batch-ms MS] [--clock cpu|wall]

The format is meant for one-line records (log fields, configuration entries,
message headers), where each call carries a few keys and the cost of a call
that does not depend on the document's size decides what users see. Three
records, each written and read by every library in turn (each library reads
the text its own dumps wrote), with the cyclic collector running as it does
in a program. A cell's figures are the minimum and the median over the
repeats of (batch time / calls in the batch).

The peers are optional: one that is not installed is left out with a note.
"""

from __future__ import annotations

import gc
import statistics
import sys
import time
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, List, Optional, Tuple

import libraries
from report import Table

OPS = ("dumps", "loads")
SUBJECT = libraries.SUBJECT
SORTED_STR = libraries.SORTED_STR
# Column order of every records table.
NAMES = ("vardelquin", "orjson", SORTED_STR, "json", "ujson", "msgspec")


# --- the records -------------------------------------------------------------

def record3() -> Dict[str, Any]:
    return {"id": 7, "name": "mirl", "ok": True}


def log10() -> Dict[str, Any]:
    return {
        "ts": "2024-06-07T12:34:56.789Z",
        "level": "info",
        "msg": "user logged in",
        "user_id": 48213,
        "latency_ms": 12.75,
        "ok": True,
        "error": None,
        "tags": ["auth", "web"],
        "ctx": {"ip": "10.0.0.7", "port": 8443},
        "host": "app-03",
    }


def mixed25() -> Dict[str, Any]:
    return {
        "id": 90210,
        "uuid": "5f0c2a7e-3d41-4b8e-9a6f-1c2d3e4f5a6b",
        "name": "Mirl Odena",
        "email": "mirl@example.org",
        "active": True,
        "admin": False,
        "score": 87.5,
        "ratio": 0.3333333333333333,
        "balance": -1204.37,
        "visits": 1532,
        "big": 9007199254740993,
        "negative": -42,
        "manager": None,
        "city": "Utrecht",
        "country": "NL",
        "url": "https://example.org/users/90210?tab=profile",
        "path": "C:\\data\\users",
        "note": "a;b=c",
        "title": "Café Zürich",
        "roles": ["reader", "writer", "reviewer"],
        "ids": [3, 14, 159, 2653],
        "weights": [0.5, 1.25],
        "geo": {"lat": 52.0907, "lon": 5.1214},
        "limits": {"daily": 100, "monthly": 2500, "burst": 10},
        "created": "2021-03-14T15:09:26Z",
    }


@dataclass
class Record:
    name: str
    doc: Dict[str, Any]
    description: str


def all_records() -> List[Record]:
    return [
        Record("record3", record3(), "3 keys: int, str, bool"),
        Record("log10", log10(), "10-key log record: str, int, float, bool, None, a 2-item list, a 2-key nested dict"),
        Record("mixed25", mixed25(),
               "25 keys: strings (a few with delimiters or non-ASCII), ints (one of 54 bits), floats, bools, None, "
               "lists, nested dicts"),
    ]


# --- the libraries -----------------------------------------------------------

def load_libraries() -> Tuple[List[libraries.Library], List[str]]:
    """The libraries that import, and a note for each peer that does not.

    vardelquin itself must import (ImportError otherwise).
    """
    libs: List[libraries.Library] = []
    skipped: List[str] = []
    for name in libraries.NAMES:
        try:
            base = libraries.load(name)
        except ImportError as e:
            if name == SUBJECT:
                raise
            skipped.append(f"{e.name or name} is not installed ({libraries.INSTALL_PEERS}); "
                           f"the columns of {name} are left out")
            continue
        libs.append(base)
    order = {n: i for i, n in enumerate(NAMES)}
    libs.sort(key=lambda lib: order[lib.name])
    return libs, skipped


operations = libraries.operations


def inputs(records: List[Record], libs: List[libraries.Library]) -> Dict[Tuple[str, str, str], Any]:
    """The argument of each (record, op, library) cell: the record, or the text that library wrote."""
    args: Dict[Tuple[str, str, str], Any] = {}
    for rec in records:
        for lib in libs:
            args[(rec.name, "dumps", lib.name)] = rec.doc
            if lib.loads is not None:
                args[(rec.name, "loads", lib.name)] = lib.dumps(rec.doc)
    return args


# --- timing ------------------------------------------------------------------

@dataclass
class Samples:
    clock: str  # "cpu" or "wall"
    per_call: Dict[Tuple[str, str, str], List[float]] = field(default_factory=dict)
    calls: Dict[Tuple[str, str, str], int] = field(default_factory=dict)

    def minimum(self, key: Tuple[str, str, str]) -> Optional[float]:
        s = self.per_call.get(key)
        return min(s) if s else None

    def median(self, key: Tuple[str, str, str]) -> Optional[float]:
        s = self.per_call.get(key)
        return statistics.median(s) if s else None


def _batch(op: str, fn: Callable[[Any], Any], arg: Any, n: int, clock: Callable[[], float]) -> float:
    args = libraries.call_arguments(op, arg, n)  # loads: a fresh copy for each call
    t0 = clock()
    for a in args:
        fn(a)
    t = clock() - t0
    del args
    return t


def _calls_per_batch(op: str, fn: Callable[[Any], Any], arg: Any, target: float, clock: Callable[[], float]) -> int:
    n = 100
    for _ in range(3):
        t = _batch(op, fn, arg, n, clock)
        if t >= target * 0.8:
            break
        n = max(n + 1, min(n * 100, int(n * target / max(t, 1e-9))))
    return n


def time_records(records: List[Record], libs: List[libraries.Library], args: Dict[Tuple[str, str, str], Any],
                 repeats: int, target: float, clock_name: str) -> Samples:
    """Every cell of a record once per repeat, round-robin, starting from a different cell each repeat.

    The collector stays on: each library pays for the collections its own
    allocations trigger, as it would in a program.
    """
    clock = time.thread_time if clock_name == "cpu" else time.perf_counter
    res = Samples(clock_name)
    for rec in records:
        gc.collect()
        cells = [(op, lib.name, fn) for lib in libs for op, fn in operations(lib).items()]
        for op, name, fn in cells:
            key = (rec.name, op, name)
            res.calls[key] = _calls_per_batch(op, fn, args[key], target, clock)  # also the warm-up
            res.per_call[key] = []
        for r in range(repeats):
            shift = r % len(cells)
            order = cells[shift:] + cells[:shift]
            if r % 2:
                order.reverse()
            for op, name, fn in order:
                key = (rec.name, op, name)
                n = res.calls[key]
                res.per_call[key].append(_batch(op, fn, args[key], n, clock) / n)
    return res


# --- report ------------------------------------------------------------------

def _ns(seconds: Optional[float]) -> str:
    return "-" if seconds is None else f"{seconds * 1e9:,.0f} ns"


def tables(records: List[Record], libs: List[libraries.Library], res: Samples, repeats: int) -> List[Table]:
    names = [lib.name for lib in libs]
    out = []
    for op in OPS:
        t = Table(f"records {op}: {'thread CPU' if res.clock == 'cpu' else 'wall-clock'} time per call, minimum "
                  f"and median of {repeats} repeats, collector on (peer / vardelquin: above 1x means vardelquin "
                  "is faster)", ["record"] + names)
        for rec in records:
            for label, stat in (("min", res.minimum), ("median", res.median)):
                mine = stat((rec.name, op, SUBJECT))
                row = [f"{rec.name} {label}"]
                for name in names:
                    key = (rec.name, op, name)
                    if key not in res.per_call:
                        row.append("–")
                        continue
                    value = stat(key)
                    cell = _ns(value)
                    if name != SUBJECT and value is not None and mine:
                        cell += f" ({value / mine:.2f}x)"
                    row.append(cell)
                t.rows.append(row)
        out.append(t)
    return out


def main(args: Any, machine_lines: Callable[[List[Any]], List[str]], log: Callable[[str], None]) -> int:
    """The records run of run.py; args are its parsed options."""
    repeats = args.repeats or (3 if args.quick else 41)
    target = (args.batch_ms or (0.2 if args.quick else 2.0)) / 1e3
    try:
        libs, skipped = load_libraries()
    except ImportError as e:
        print(libraries.cannot_import(e.name or SUBJECT), file=sys.stderr)
        return 2
    for note in skipped:
        log(f"note: {note}")
    records = all_records()
    header = machine_lines(libs)
    started = time.time()
    args_by_cell = inputs(records, libs)
    log(f"timing records ({repeats} repeats)")
    res = time_records(records, libs, args_by_cell, repeats, target, args.clock)
    header.append(f"Run: records{', quick' if args.quick else ''}, {repeats} repeats, clock: "
                  f"{'thread CPU time' if args.clock == 'cpu' else 'wall-clock time'}, "
                  f"{time.time() - started:.0f} s")
    workload_lines = [f"{rec.name}: {rec.description}" for rec in records]
    batch = {r.name: sorted({n for k, n in res.calls.items() if k[0] == r.name}) for r in records}
    note_lines = [
        "Each cell: minimum and median over the repeats of (batch time / calls in the batch); a batch is sized to "
        f"about {target * 1e3:g} ms (calls per batch: "
        + "; ".join(f"{name} {v[0]:,} to {v[-1]:,}" for name, v in batch.items()) + "). "
        "Within a repeat every library and operation runs once, in one process, starting from a different cell "
        "each repeat; the cyclic garbage collector is on; freeing each result is part of the call.",
        "Each library's loads reads the text its own dumps wrote, a fresh copy for every call. "
        "orjson_sorted_str does the work of vardelquin's "
        "dumps (nested keys sorted, a str result); its loads would be orjson's, so that column reads –.",
        "On a shared machine compare ratios within one run; python benchmarks/instructions.py counts instructions "
        "per call, which other work does not disturb.",
        *skipped,
    ]
    out: List[str] = []
    if args.markdown:
        out += ["### Machine", "", *(f"- {h}" for h in header), "", "### Records", "",
                *(f"- {w}" for w in workload_lines)]
        for t in tables(records, libs, res, repeats):
            out += ["", t.markdown()]
        out += ["", "### Notes", "", *(f"- {n}" for n in note_lines)]
    else:
        out += ["vardelquin records benchmark", *(f"  {h}" for h in header), "", "records",
                *(f"  {w}" for w in workload_lines)]
        for t in tables(records, libs, res, repeats):
            out += ["", t.text()]
        out += ["", "notes", *(f"  - {n}" for n in note_lines)]
    print("\n".join(out))
    return 0
