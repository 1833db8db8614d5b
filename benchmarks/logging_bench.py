#!/usr/bin/env python3
"""Benchmarks vardelquin_logging against the standard library's formatter, python-json-logger and structlog.

    .venv/bin/pip install -r benchmarks/requirements.txt
    .venv/bin/python benchmarks/logging_bench.py [--quick] [--markdown] [--repeats N] [--batch-ms MS]
    PYTHONPATH=src/python .venv/bin/python benchmarks/logging_bench.py   (the checkout's package, not the installed)

Times the cost of one log line: ``Formatter.format`` on a LogRecord against
the standard library's plain-text ``logging.Formatter`` and
python-json-logger's json and orjson formatters, and ``Renderer`` on a
structlog event dict against structlog's ``JSONRenderer`` (json and orjson
serializers) and ``KeyValueRenderer``. Each on three records: a plain one,
one with 10 extra fields, one with an exception. Every cell of a record runs
once per repeat, interleaved in one process; a cell's figures are the
minimum and median of (batch thread CPU time / calls in the batch), with
the cyclic collector on. PASS/FAIL lines give the performance targets; a
FAIL is a goal missed, not a failed run, and the exit status is 0 either
way. The peers are optional: one that is not installed is left out with a
note.
"""

from __future__ import annotations

import argparse
import gc
import itertools
import logging
import os
import platform
import statistics
import sys
import time
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Optional, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from report import Table, targets_block  # noqa: E402
from run import cpu_model  # noqa: E402

PLAIN_FMT = "%(asctime)s %(levelname)s %(name)s %(message)s"
INSTALL_PEERS = ".venv/bin/pip install -r benchmarks/requirements.txt"
SUBJECT = "vardelquin"
# (column, kind, peer the target divides by, the most the ratio may be)
TARGETS = (("formatter", "plain-text", 1.0), ("formatter", "pjl orjson", 0.5),
           ("renderer", "structlog orjson", 0.8))


def log(msg: str) -> None:
    print(msg, file=sys.stderr, flush=True)


# --- the records -------------------------------------------------------------

EXTRA10: Dict[str, Any] = {
    "user": "mirl", "order_id": 1042, "total": 12.5, "paid": True, "coupon": None, "items": ["tea", "cups"],
    "address": {"city": "Utrecht", "zip": "3511"}, "attempt": 2, "region": "eu-west", "latency_ms": 3.75,
}


def _caught() -> BaseException:
    def price(order: Dict[str, float]) -> float:
        return order["price"]
    try:
        price({})
    except KeyError as error:
        return error
    raise AssertionError("unreachable")


def log_records() -> Dict[str, logging.LogRecord]:
    def record(extra: Dict[str, Any], exc: Optional[BaseException]) -> logging.LogRecord:
        exc_info = (type(exc), exc, exc.__traceback__) if exc is not None else None
        made = logging.LogRecord("shop.orders", logging.INFO if exc is None else logging.ERROR, "/srv/shop/orders.py",
                                 42, "order %s placed", (1042,), exc_info, "place")
        made.__dict__.update(extra)
        return made
    return {"plain": record({}, None), "extra10": record(EXTRA10, None), "exception": record({}, _caught())}


def event_dicts() -> Dict[str, Dict[str, Any]]:
    # As structlog's add_log_level and TimeStamper(fmt="iso") leave it.
    base = {"event": "order 1042 placed", "level": "info", "timestamp": "2026-12-08T03:04:05.678901Z"}
    return {"plain": dict(base), "extra10": {**base, **EXTRA10}, "exception": {**base, "exc_info": _caught()}}


DESCRIPTIONS = {
    "plain": "message with one argument, logger name, level; no extra fields",
    "extra10": "as plain, with 10 extra fields: str, int, float, bool, None, a 2-item list, a 2-key dict",
    "exception": "as plain, with a caught KeyError and its 2-frame traceback, formatted on every call",
}


# --- the cells ---------------------------------------------------------------

@dataclass
class Cell:
    kind: str  # "formatter" or "renderer"
    name: str
    call: Callable[[Any], Any]


def formatter_cells(skipped: List[str]) -> List[Cell]:
    import vardelquin_logging

    cells = [Cell("formatter", SUBJECT, vardelquin_logging.Formatter().format),
             Cell("formatter", "plain-text", logging.Formatter(PLAIN_FMT).format)]
    try:
        from pythonjsonlogger.json import JsonFormatter
        from pythonjsonlogger.orjson import OrjsonFormatter
    except ImportError:
        skipped.append(f"python-json-logger (with orjson) is not installed ({INSTALL_PEERS}); its columns are left out")
        return cells
    cells.append(Cell("formatter", "pjl json", JsonFormatter(PLAIN_FMT).format))
    cells.append(Cell("formatter", "pjl orjson", OrjsonFormatter(PLAIN_FMT).format))
    return cells


def renderer_cells(skipped: List[str]) -> List[Cell]:
    import vardelquin_logging

    mine = vardelquin_logging.Renderer()
    cells = [Cell("renderer", SUBJECT, lambda event: mine(None, "info", event))]
    try:
        import orjson
        import structlog
    except ImportError:
        skipped.append(f"structlog or orjson is not installed ({INSTALL_PEERS}); their columns are left out")
        return cells
    processors = structlog.processors
    exc_info = processors.format_exc_info

    def chain(render: Callable[[Any, str, Dict[str, Any]], Any]) -> Callable[[Dict[str, Any]], Any]:
        # structlog's renderers leave exc_info to format_exc_info, which
        # changes the event dict in place: it gets a copy, and only when it
        # has something to do, so that the other records pay for neither.
        def call(event: Dict[str, Any]) -> Any:
            if "exc_info" in event:
                return render(None, "info", exc_info(None, "info", dict(event)))
            return render(None, "info", event)
        return call

    cells.append(Cell("renderer", "structlog json", chain(processors.JSONRenderer())))
    cells.append(Cell("renderer", "structlog orjson", chain(processors.JSONRenderer(serializer=orjson.dumps))))
    cells.append(Cell("renderer", "structlog kv", chain(processors.KeyValueRenderer())))
    return cells


def fresh_traceback(call: Callable[[logging.LogRecord], str]) -> Callable[[logging.LogRecord], str]:
    """call, made to format the traceback each time, as the record's first handler does.

    The standard library's Formatter keeps the traceback's text on the
    record; without this only the first call would format it.
    """
    def formatted(record: logging.LogRecord) -> str:
        record.exc_text = None
        return call(record)
    return formatted


# --- timing ------------------------------------------------------------------

def _batch(fn: Callable[[Any], Any], arg: Any, n: int) -> float:
    it = itertools.repeat(None, n)
    clock = time.thread_time
    t0 = clock()
    for _ in it:
        fn(arg)
    return clock() - t0


def _calls_per_batch(fn: Callable[[Any], Any], arg: Any, target: float) -> int:
    n = 100
    for _ in range(3):
        t = _batch(fn, arg, n)
        if t >= target * 0.8:
            break
        n = max(n + 1, min(n * 100, int(n * target / max(t, 1e-9))))
    return n


Key = Tuple[str, str, str]  # (record, kind, name)


def time_cells(cells: List[Cell], inputs: Dict[str, Dict[str, Any]], repeats: int,
               target: float) -> Dict[Key, List[float]]:
    """Per-call times of every (record, cell), round-robin, from a different cell each repeat."""
    samples: Dict[Key, List[float]] = {}
    for record in inputs["formatter"]:
        gc.collect()
        work = []
        for cell in cells:
            fn = cell.call
            if record == "exception" and cell.kind == "formatter":
                fn = fresh_traceback(fn)
            arg = inputs[cell.kind][record]
            work.append(((record, cell.kind, cell.name), fn, arg, _calls_per_batch(fn, arg, target)))
        for key, *_ in work:
            samples[key] = []
        for r in range(repeats):
            shift = r % len(work)
            order = work[shift:] + work[:shift]
            if r % 2:
                order.reverse()
            for key, fn, arg, n in order:
                samples[key].append(_batch(fn, arg, n) / n)
    return samples


# --- report ------------------------------------------------------------------

def _time(seconds: float) -> str:
    return f"{seconds * 1e9:,.0f} ns" if seconds < 1e-5 else f"{seconds * 1e6:,.1f} us"


def tables(cells: List[Cell], records: List[str], samples: Dict[Key, List[float]], repeats: int) -> List[Table]:
    out = []
    for kind in ("formatter", "renderer"):
        names = [c.name for c in cells if c.kind == kind]
        what = "Formatter.format" if kind == "formatter" else "Renderer"
        t = Table(f"{what}: thread CPU time per line, minimum and median of {repeats} repeats, collector on "
                  f"(peer / vardelquin: above 1x means vardelquin is faster)", ["record"] + names)
        for record in records:
            for label, stat in (("min", min), ("median", statistics.median)):
                mine = stat(samples[(record, kind, SUBJECT)])
                row = [f"{record} {label}"]
                for name in names:
                    value = stat(samples[(record, kind, name)])
                    row.append(_time(value) + ("" if name == SUBJECT else f" ({value / mine:.2f}x)"))
                t.rows.append(row)
        out.append(t)
    return out


def verdicts(records: List[str], samples: Dict[Key, List[float]]) -> List[str]:
    lines = []
    for kind, peer, most in TARGETS:
        what = "Formatter" if kind == "formatter" else "Renderer"
        for record in records:
            key = (record, kind, peer)
            text = f"{what} <= {most:g}x {peer} ({record}, median)"
            if key not in samples:
                lines.append(f"N/A   {text}: {peer} not installed")
                continue
            ratio = statistics.median(samples[(record, kind, SUBJECT)]) / statistics.median(samples[key])
            lines.append(f"{'PASS' if ratio <= most else 'FAIL'}  {text}: {ratio:.2f}x")
    return lines


def machine_lines() -> List[str]:
    from importlib import metadata

    def version(dist: str) -> str:
        try:
            return metadata.version(dist)
        except metadata.PackageNotFoundError:
            return "not installed"

    import vardelquin_logging

    return [f"CPU: {cpu_model()} ({os.cpu_count()} logical CPUs)",
            f"Python: {platform.python_implementation()} {sys.version.split()[0]} ({sys.executable})",
            f"vardelquin_logging: {os.path.dirname(vardelquin_logging.__file__)}",
            *(f"{dist}: {version(dist)}" for dist in ("vardelquin", "python-json-logger", "structlog", "orjson"))]


def main(argv: Optional[List[str]] = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--quick", action="store_true", help="smoke run: 3 repeats of 2 ms batches")
    ap.add_argument("--markdown", action="store_true", help="print README-ready Markdown tables")
    ap.add_argument("--repeats", type=int, default=None, help="timing repeats (default 21, quick 3)")
    ap.add_argument("--batch-ms", type=float, default=None, help="duration of one timed batch (default 20, quick 2)")
    args = ap.parse_args(argv)
    repeats = args.repeats or (3 if args.quick else 21)
    target = (args.batch_ms or (2.0 if args.quick else 20.0)) / 1e3
    try:
        import vardelquin_logging  # noqa: F401
    except ImportError as e:
        print(f"cannot import {e.name} with {sys.executable}: run with the project's environment, "
              ".venv/bin/python benchmarks/logging_bench.py", file=sys.stderr)
        return 2
    skipped: List[str] = []
    cells = formatter_cells(skipped) + renderer_cells(skipped)
    for note in skipped:
        log(f"note: {note}")
    records = list(DESCRIPTIONS)
    started = time.time()
    log(f"timing log lines ({repeats} repeats)")
    samples = time_cells(cells, {"formatter": log_records(), "renderer": event_dicts()}, repeats, target)
    header = [*machine_lines(), f"Run: {'quick' if args.quick else 'full'}, {repeats} repeats, clock: thread CPU "
              f"time, collector on, {time.time() - started:.0f} s"]
    notes = [f"Formatter peers: logging.Formatter({PLAIN_FMT!r}) (plain text, no extra fields), and "
             "python-json-logger's JsonFormatter and OrjsonFormatter with the same fmt (JSON with the extra fields). "
             "vardelquin_logging.Formatter() as it comes: time, level, logger, message, the extra fields.",
             "Renderer peers: structlog's JSONRenderer() (json), JSONRenderer(serializer=orjson.dumps) (bytes) and "
             "KeyValueRenderer(); on the exception record each after format_exc_info on a copy of the event dict, "
             "as a chain without it would lose the traceback; vardelquin_logging.Renderer() formats exc_info itself.",
             "exception record: each formatter formats the traceback on every call (exc_text cleared first), as the "
             "record's first handler does; its time is mostly the standard library's traceback formatting.",
             "On a shared machine compare ratios within one run.", *skipped]
    found = tables(cells, records, samples, repeats)
    lines = verdicts(records, samples)
    out: List[str] = []
    if args.markdown:
        out += ["### Machine", "", *(f"- {h}" for h in header), "", "### Records", "",
                *(f"- {r}: {d}" for r, d in DESCRIPTIONS.items())]
        for t in found:
            out += ["", t.markdown()]
        out += ["", *targets_block(lines, markdown=True), "", "### Notes", "", *(f"- {n}" for n in notes)]
    else:
        out += ["vardelquin logging benchmark", *(f"  {h}" for h in header), "", "records",
                *(f"  {r}: {d}" for r, d in DESCRIPTIONS.items())]
        for t in found:
            out += ["", t.text()]
        out += ["", *targets_block(lines, markdown=False), "", "notes", *(f"  - {n}" for n in notes)]
    print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
