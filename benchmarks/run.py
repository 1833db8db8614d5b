#!/usr/bin/env python3
"""Benchmarks vardelquin against json, orjson, ujson and msgspec.

    python3 -m venv .venv && .venv/bin/pip install .      (the README's quick start)
    .venv/bin/pip install -r benchmarks/requirements.txt
    .venv/bin/python benchmarks/run.py [--quick] [--markdown] [--corpus DIR]
    .venv/bin/python benchmarks/run.py --records [--quick] [--markdown]
    .venv/bin/python benchmarks/run.py --scale [--quick] [--markdown]

The corpus is read from --corpus DIR, else $VARDELQUIN_CORPUS, else
../shared/data/corpus beside the repository; a document found in none of
them is replaced by a synthetic stand-in of the same shape.

Prints the machine, then for every workload and library: time per call,
the ratio of each peer's time to vardelquin's (peer / vardelquin, above 1
means vardelquin is faster), output size, and peak memory of one call
(tracemalloc, and the resident high-water mark of a fresh process), the
geometric means over the corpus documents, and a PASS/FAIL line for each
performance target: dumps against orjson (sorted, str), orjson and json,
loads against json and orjson, the per-call cost of record3, and peak
memory against json's. A target is a goal the module is measured against;
FAIL marks one not met yet, and the exit status is 0 either way. Progress
goes to stderr, the report to stdout.
"""

from __future__ import annotations

import argparse
import gc
import math
import os
import pickle
import platform
import statistics
import subprocess
import sys
import tempfile
import time
import tracemalloc
from typing import Any, Callable, Dict, List, Mapping, Optional, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import libraries  # noqa: E402
import workloads as wl  # noqa: E402
from report import Table, fmt_bytes, fmt_mem, fmt_ratio, fmt_time, geomean, targets_block  # noqa: E402

CORPUS_VARIABLE = "VARDELQUIN_CORPUS"
DEFAULT_CORPUS = os.path.normpath(os.path.join(REPO, "..", "shared", "data", "corpus"))
OPS = ("dumps", "loads")
CLOCKS = {"cpu": "thread CPU time", "wall": "wall-clock time"}
SUBJECT = libraries.SUBJECT
PEERS = [n for n in libraries.NAMES if n != SUBJECT]

Key = Tuple[str, str, str]  # (workload, op, library)


def log(msg: str) -> None:
    print(msg, file=sys.stderr, flush=True)


# --- machine -----------------------------------------------------------------

def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine() or "unknown"


def machine_lines(libs: List[libraries.Library]) -> List[str]:
    load = os.getloadavg() if hasattr(os, "getloadavg") else None
    lines = [
        f"CPU: {cpu_model()} ({os.cpu_count()} logical CPUs)",
        f"OS: {platform.system()} {platform.release()} {platform.machine()}",
        f"Python: {platform.python_implementation()} {sys.version.split()[0]} ({sys.executable})",
    ]
    if load:
        lines.append(f"Load average at start: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")
    for lib in libs:
        extra = ""
        if lib.name == "json":
            acc = libraries.json_accelerated()
            extra = ", C accelerator " + ("in use" if acc else "NOT in use" if acc is False else "unknown")
        lines.append(f"{lib.name}: {lib.version}{extra}; {lib.call}")
    return lines


# --- timing ------------------------------------------------------------------

def time_batch(op: str, fn: Callable[[Any], Any], arg: Any, n: int) -> Tuple[float, float]:
    """(wall-clock, thread CPU) seconds of n calls (loads: each of a fresh copy of arg)."""
    args = libraries.call_arguments(op, arg, n)
    perf, cpu = time.perf_counter, time.thread_time
    t0, c0 = perf(), cpu()
    for a in args:
        fn(a)
    c1, t1 = cpu(), perf()
    del args  # the copies are freed outside the clock
    return t1 - t0, c1 - c0


def calibrate(op: str, fn: Callable[[Any], Any], arg: Any, target: float) -> int:
    """Calls per batch so that one batch takes about `target` seconds of CPU."""
    n = 1
    for _ in range(4):
        t = time_batch(op, fn, arg, n)[1]
        if t >= target * 0.8:
            return n
        n = max(n + 1, min(n * 100, int(math.ceil(n * target / max(t, 1e-9)))))
    return n


class Results:
    def __init__(self, clock: str) -> None:
        self.clock = clock  # "cpu" or "wall": which samples the tables use
        self.wall: Dict[Key, List[float]] = {}
        self.cpu: Dict[Key, List[float]] = {}
        self.calls: Dict[Key, int] = {}
        self.errors: Dict[Key, str] = {}
        self.absent: set = set()  # cells a library has no operation for
        self.size: Dict[Tuple[str, str], int] = {}
        self.roundtrip: Dict[Tuple[str, str], bool] = {}
        self.traced: Dict[Key, int] = {}
        self.rss: Dict[Key, Optional[int]] = {}
        self.rss_errors: Dict[Key, str] = {}

    @property
    def samples(self) -> Dict[Key, List[float]]:
        return self.cpu if self.clock == "cpu" else self.wall

    def skipped(self, key: Key) -> bool:
        return key in self.errors or key in self.absent

    def median(self, key: Key) -> Optional[float]:
        s = self.samples.get(key)
        return statistics.median(s) if s else None

    def ratio(self, w: str, op: str, peer: str) -> Optional[float]:
        mine = self.median((w, op, SUBJECT))
        theirs = self.median((w, op, peer))
        if mine is None or theirs is None or mine <= 0:
            return None
        return theirs / mine

    def spread(self, key: Key, clock: Optional[str] = None) -> Optional[float]:
        s = (self.cpu if (clock or self.clock) == "cpu" else self.wall).get(key)
        if not s or len(s) < 4:
            return None
        q = statistics.quantiles(s, n=4)
        return (q[2] - q[0]) / statistics.median(s)


def describe_error(e: BaseException) -> str:
    msg = str(e).splitlines()[0] if str(e) else ""
    return f"{type(e).__name__}: {msg}" if msg else type(e).__name__


def prepare(work: List[wl.Workload], libs: List[libraries.Library], res: Results) -> Dict[Tuple[str, str], Any]:
    """Each library's output for each workload (the input of its loads)."""
    texts: Dict[Tuple[str, str], Any] = {}
    for w in work:
        for lib in libs:
            try:
                out = lib.dumps(w.doc)
            except Exception as e:
                for op in OPS:
                    res.errors[(w.name, op, lib.name)] = describe_error(e)
                continue
            texts[(w.name, lib.name)] = out
            res.size[(w.name, lib.name)] = len(out.encode("utf-8")) if isinstance(out, str) else len(out)
            if lib.loads is None:
                res.absent.add((w.name, "loads", lib.name))
                continue
            try:
                res.roundtrip[(w.name, lib.name)] = lib.loads(out) == w.doc
            except Exception as e:
                res.errors[(w.name, "loads", lib.name)] = describe_error(e)
    return texts


def run_timing(work: List[wl.Workload], libs: List[libraries.Library], texts: Dict[Tuple[str, str], Any],
               res: Results, repeats: int, target: float, collector: bool) -> None:
    # By default the cyclic collector runs as it does in a program, so each
    # library pays for the collections that its own allocations trigger.
    gc_was_enabled = gc.isenabled()
    gc.collect()
    if not collector:
        gc.disable()
    try:
        for w in work:
            t_start = time.perf_counter()
            cells: List[Tuple[str, libraries.Library, Callable[[Any], Any], Any]] = []
            for op in OPS:
                for lib in libs:
                    key = (w.name, op, lib.name)
                    if res.skipped(key):
                        continue
                    fn = libraries.operations(lib)[op]
                    arg = w.doc if op == "dumps" else texts[(w.name, lib.name)]
                    n = w.calls if w.calls else calibrate(op, fn, arg, target)
                    res.calls[key] = n
                    res.wall[key] = []
                    res.cpu[key] = []
                    cells.append((op, lib, fn, arg))
            if w.calls:  # one warm-up call of each before the first round
                for op, lib, fn, arg in cells:
                    fn(arg)
            for r in range(repeats):
                # Round-robin: every library runs once per repeat, starting
                # from a different library each time, and the order of the
                # operations alternates, so that noise hits all alike.
                for op in (OPS if r % 2 == 0 else OPS[::-1]):
                    row = [c for c in cells if c[0] == op]
                    shift = r % len(row) if row else 0
                    for _, lib, fn, arg in row[shift:] + row[:shift]:
                        key = (w.name, op, lib.name)
                        n = res.calls[key]
                        wall, cpu = time_batch(op, fn, arg, n)
                        res.wall[key].append(wall / n)
                        res.cpu[key].append(cpu / n)
            log(f"  timed {w.name:<14} {repeats} repeats in {time.perf_counter() - t_start:.1f} s")
    finally:
        if gc_was_enabled:
            gc.enable()


# --- memory ------------------------------------------------------------------

def traced_peak(fn: Callable[[Any], Any], arg: Any) -> int:
    gc.collect()
    tracemalloc.start()
    try:
        result = fn(arg)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    del result
    return peak


def run_tracemalloc(work: List[wl.Workload], libs: List[libraries.Library], texts: Dict[Tuple[str, str], Any],
                    res: Results) -> None:
    for w in work:
        for op in OPS:
            for lib in libs:
                key = (w.name, op, lib.name)
                if res.skipped(key):
                    continue
                fn = libraries.operations(lib)[op]
                arg = w.doc if op == "dumps" else texts[(w.name, lib.name)]
                res.traced[key] = traced_peak(fn, arg)


def run_rss(work: List[wl.Workload], libs: List[libraries.Library], texts: Dict[Tuple[str, str], Any],
            res: Results) -> None:
    probe = os.path.join(HERE, "rss_probe.py")
    with tempfile.TemporaryDirectory(prefix="vardelquin-bench-") as tmp:
        for w in work:
            doc_path = os.path.join(tmp, f"{w.name}.pickle")
            limit = sys.getrecursionlimit()
            sys.setrecursionlimit(max(limit, 10_000))  # the deep workload
            try:
                with open(doc_path, "wb") as f:
                    pickle.dump(w.doc, f, protocol=pickle.HIGHEST_PROTOCOL)
            finally:
                sys.setrecursionlimit(limit)
            for lib in libs:
                text = texts.get((w.name, lib.name))
                text_path = os.path.join(tmp, f"{w.name}.{lib.name}.out")
                if text is not None:
                    with open(text_path, "wb") as f:
                        f.write(text.encode("utf-8") if isinstance(text, str) else text)
                for op in OPS:
                    key = (w.name, op, lib.name)
                    if res.skipped(key):
                        continue
                    path = doc_path if op == "dumps" else text_path
                    try:
                        proc = subprocess.run([sys.executable, probe, lib.name, op, path],
                                              capture_output=True, text=True, timeout=300)
                        out = proc.stdout.strip()
                        if proc.returncode != 0:
                            res.rss_errors[key] = (proc.stderr.strip().splitlines() or ["failed"])[-1]
                        elif out.isdigit():
                            res.rss[key] = int(out)
                        else:
                            res.rss_errors[key] = out or "no output"
                    except subprocess.TimeoutExpired:
                        res.rss_errors[key] = "timeout"
            log(f"  rss    {w.name}")


# --- report ------------------------------------------------------------------

def time_table(op: str, work: List[wl.Workload], corpus: List[str], res: Results, repeats: int) -> Table:
    headers = ["workload"] + list(libraries.NAMES)
    t = Table(
        f"{op}: {CLOCKS[res.clock]} per call, median of {repeats} repeats; "
        "(peer / vardelquin: above 1x means vardelquin is faster)",
        headers,
    )
    for w in work:
        row = [w.name]
        for name in libraries.NAMES:
            key = (w.name, op, name)
            if key in res.absent:
                row.append("–")
                continue
            if key in res.errors:
                row.append("error")
                continue
            cell = fmt_time(res.median(key), w.unit)
            if name != SUBJECT:
                cell += f" ({fmt_ratio(res.ratio(w.name, op, name))})"
            row.append(cell)
        t.rows.append(row)
    if corpus:
        t.summary_from = len(t.rows)
        row = [f"geomean ({len(corpus)} corpus docs)", ""]
        for name in PEERS:
            row.append(f"({fmt_ratio(geomean([res.ratio(w, op, name) for w in corpus]))})")
        t.rows.append(row)
    return t


def size_table(work: List[wl.Workload], res: Results) -> Table:
    t = Table("output size of dumps, bytes (UTF-8 for str); last column: vardelquin / json",
              ["workload"] + list(libraries.NAMES) + ["vdq/json"])
    for w in work:
        row = [w.name] + [fmt_bytes(res.size.get((w.name, n))) for n in libraries.NAMES]
        a, b = res.size.get((w.name, SUBJECT)), res.size.get((w.name, "json"))
        row.append(f"{a / b:.2f}" if a and b else "-")
        t.rows.append(row)
    return t


def mem_table(title: str, op: str, work: List[wl.Workload], values: Mapping[Key, Optional[int]],
              errors: Dict[Key, str], res: Results) -> Table:
    t = Table(title, ["workload"] + list(libraries.NAMES) + ["vdq/json"])
    for w in work:
        row = [w.name]
        for n in libraries.NAMES:
            key = (w.name, op, n)
            if key in res.absent:
                row.append("–")
            elif key in res.errors or key in errors:
                row.append("error")
            else:
                row.append(fmt_mem(values.get(key)))
        a, b = values.get((w.name, op, SUBJECT)), values.get((w.name, op, "json"))
        row.append(f"{a / b:.2f}" if a is not None and b else "-")
        t.rows.append(row)
    return t


def targets(work: List[wl.Workload], corpus: List[str], res: Results, rss_done: bool,
            collector: bool) -> List[Tuple[Optional[bool], str]]:
    lines: List[Tuple[Optional[bool], str]] = []

    def speed(op: str, peer: str, goal: float, note: str = "") -> None:
        g = geomean([res.ratio(w, op, peer) for w in corpus])
        what = f"{op} >= {goal:g}x as fast as {peer} (geomean over {len(corpus)} corpus docs{note})"
        if g is None:
            lines.append((None, f"{what}: no data"))
        else:
            lines.append((g >= goal, f"{what}: {g:.2f}x"))

    def never_slower(op: str, peer: str) -> None:
        ratios = [(r, w.name) for w in work if (r := res.ratio(w.name, op, peer)) is not None]
        what = f"{op} no slower than {peer} on any workload"
        if not ratios:
            lines.append((None, f"{what}: no data"))
        else:
            worst = min(ratios)
            lines.append((worst[0] >= 1.0, f"{what}: slowest {worst[0]:.2f}x ({worst[1]})"))

    speed("dumps", libraries.SORTED_STR, 1.0)
    speed("dumps", "orjson", 0.6)
    speed("dumps", "json", 3.0)
    never_slower("dumps", "json")
    speed("loads", "json", 2.0)
    never_slower("loads", "json")
    if collector:
        speed("loads", "orjson", 1.2, ", collector on")
    else:
        speed("loads", "orjson", 0.8, ", collector off")

    for op in OPS:
        mine, theirs = res.median(("record3", op, SUBJECT)), res.median(("record3", op, "json"))
        what = f"record3 {op} per call no slower than json.{op}"
        if mine is None or theirs is None:
            lines.append((None, f"{what}: no data"))
        else:
            lines.append((mine <= theirs, f"{what}: {fmt_time(mine, 'ns')} vs {fmt_time(theirs, 'ns')}"))

    def memory(label: str, values: Dict[Key, Any], ops: Tuple[str, ...], limit: float) -> None:
        what = (f"peak memory of one call <= {limit * 100:.0f}% of json's on every corpus doc, "
                f"{' and '.join(ops)} ({label})")
        worst: Optional[Tuple[float, str]] = None
        missing = []
        for w in corpus:
            for op in ops:
                a, b = values.get((w, op, SUBJECT)), values.get((w, op, "json"))
                if a is None or not b:
                    missing.append(f"{w} {op}")
                    continue
                r = a / b
                if worst is None or r > worst[0]:
                    worst = (r, f"{w} {op}")
        if worst is None or missing:
            lines.append((None, f"{what}: no data for {', '.join(missing) or 'any document'}"))
        else:
            lines.append((worst[0] <= limit, f"{what}: worst {worst[0] * 100:.0f}% ({worst[1]})"))

    memory("tracemalloc", res.traced, OPS, 1.25)
    if rss_done:
        memory("fresh-process RSS high-water", res.rss, ("dumps",), 1.0)
        memory("fresh-process RSS high-water", res.rss, ("loads",), 1.25)
    return lines


def notes(work: List[wl.Workload], res: Results, repeats: int, target: float, rss_done: bool,
          collector: bool = True) -> List[str]:
    out = [
        f"Timing: each cell is the median over {repeats} repeats of (batch time / calls in the batch), in "
        f"{CLOCKS[res.clock]}; a batch "
        f"is sized to take about {target * 1e3:g} ms (record3: a fixed {next((w.calls for w in work if w.calls), 0):,} "
        "calls). Within each repeat the libraries run round-robin, starting from a different one each time, in one "
        "process; the cyclic garbage collector is "
        + ("on while timing, as in a program, so each library pays for the collections its own allocations "
           "trigger" if collector else "off while timing (--gc off)")
        + "; freeing each result is part of the call's time.",
        "Clock: every batch is timed with both clocks. The thread's CPU time (user + system, CLOCK_THREAD_CPUTIME_ID) "
        "leaves out the time the process waited for a core while other work ran, which on a shared machine "
        "dominates the wall clock's noise; the calls are single-threaded, so otherwise the two agree.",
        "Inputs: every library's loads reads the text its own dumps wrote (orjson and msgspec write bytes), "
        "a fresh copy for every call. "
        "All libraries run with their default options (json and ujson escape non-ASCII as \\uXXXX by default).",
        "tracemalloc sees only allocations made through Python's allocators (PyMem_*/PyObject_*); memory an "
        "extension takes from the C/C++ heap directly (malloc, new) is invisible to it, so those figures can "
        "undercount a native library. Peak includes the call's result.",
    ]
    if rss_done:
        out.append("RSS: growth of the kernel's resident high-water mark (VmHWM, reset through /proc/self/clear_refs) "
                   "over one call in a fresh process that imported only that library; sees every allocation, at page "
                   "granularity, but not memory freed earlier in the process and reused by the call (a lower bound); "
                   "a call that needs less than a few pages can read 0.")
    noise = []
    for clock in ("cpu", "wall"):
        spreads = sorted((s, k) for k in res.samples if (s := res.spread(k, clock)) is not None)
        if spreads:
            med = statistics.median(s for s, _ in spreads)
            worst, wk = spreads[-1]
            noise.append(f"{CLOCKS[clock]}: median {med * 100:.1f}%, largest {worst * 100:.1f}% "
                         f"({wk[0]} {wk[1]} {wk[2]})")
    if noise:
        out.append("Noise, interquartile range / median of the timing cells: " + "; ".join(noise) + ".")
    corpus = [w.name for w in work if w.kind == "corpus"]
    if corpus:
        other = "wall" if res.clock == "cpu" else "cpu"
        saved, res.clock = res.clock, other
        try:
            parts = []
            for op in OPS:
                gs = [f"{p} {fmt_ratio(geomean([res.ratio(w, op, p) for w in corpus]))}" for p in PEERS]
                parts.append(f"{op}: " + ", ".join(gs))
        finally:
            res.clock = saved
        out.append(f"Cross-check, corpus geomeans of peer / vardelquin in {CLOCKS[other]}: " + "; ".join(parts) + ".")
    lossy = [f"{lib} on {w}" for (w, lib), ok in res.roundtrip.items() if not ok]
    if lossy:
        out.append("loads(dumps(doc)) != doc for: " + ", ".join(lossy) +
                   " (vardelquin has no type markers: strings that spell numbers or keywords read back typed).")
    errs = sorted({(lib, w, msg) for (w, _, lib), msg in res.errors.items()})
    for lib, w, msg in errs:
        out.append(f"error: {lib} on {w}: {msg}")
    for (w, op, lib), msg in sorted(res.rss_errors.items()):
        out.append(f"rss error: {lib} {op} on {w}: {msg}")
    return out


def main(argv: Optional[List[str]] = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--quick", action="store_true",
                    help="fast smoke run: few repeats, small synthetic inputs, short batches")
    ap.add_argument("--markdown", action="store_true", help="print README-ready Markdown tables")
    ap.add_argument("--corpus", metavar="DIR", default=os.environ.get(CORPUS_VARIABLE) or DEFAULT_CORPUS,
                    help=f"directory of the JSON corpus (default: ${CORPUS_VARIABLE}, else ../shared/data/corpus "
                         "from the repo root); missing documents are replaced by synthetic stand-ins")
    ap.add_argument("--repeats", type=int, default=None, help="timing repeats (default 41, quick 3)")
    ap.add_argument("--batch-ms", type=float, default=None,
                    help="target duration of one timed batch in ms (default 10, quick 1)")
    ap.add_argument("--clock", choices=sorted(CLOCKS), default="cpu",
                    help="what the tables report: the thread's CPU time (default; robust to other work "
                         "on the machine taking the cores) or wall-clock time")
    ap.add_argument("--gc", choices=("on", "off"), default="on",
                    help="keep the cyclic garbage collector running while timing (default) or turn it off")
    ap.add_argument("--no-rss", action="store_true", help="skip the fresh-process resident-memory probes")
    ap.add_argument("--records", action="store_true",
                    help="only the records workload: the fixed cost of a call on 3-, 10- and 25-key records "
                         "(minimum and median per call; peers optional)")
    ap.add_argument("--scale", action="store_true",
                    help="only the scale workload: dumps of one string of 1, 10 and 100 MB (CPU time per byte, "
                         "resident high-water growth)")
    args = ap.parse_args(argv)
    if args.scale:
        import scale

        return scale.main(args, machine_lines, log)
    if args.records:
        import records

        return records.main(args, machine_lines, log)

    repeats = args.repeats or (3 if args.quick else 41)
    target = (args.batch_ms or (1.0 if args.quick else 10.0)) / 1e3

    try:
        libraries.load(libraries.SUBJECT)
    except ImportError as e:
        print(libraries.cannot_import(e.name or libraries.SUBJECT), file=sys.stderr)
        return 2
    missing = libraries.missing_peers()
    if missing:
        print(f"missing benchmark requirements: {', '.join(missing)}; run: {libraries.INSTALL_PEERS}",
              file=sys.stderr)
        return 2
    libs = libraries.load_all()

    started = time.time()
    log("building workloads")
    corpus_work = wl.load_corpus(args.corpus if os.path.isdir(args.corpus) else None, args.quick)
    stand_ins = [w.name for w in corpus_work if w.description.startswith("synthetic")]
    if stand_ins:
        log(f"note: not in {args.corpus}: {', '.join(stand_ins)}; synthetic stand-ins of the same shape are used")
    work = corpus_work + wl.synthetic(args.quick)
    corpus = [w.name for w in corpus_work]
    header = machine_lines(libs)

    res = Results(args.clock)
    log("preparing inputs")
    texts = prepare(work, libs, res)
    log(f"timing ({repeats} repeats)")
    run_timing(work, libs, texts, res, repeats, target, collector=args.gc == "on")
    log("tracemalloc peaks")
    run_tracemalloc(work, libs, texts, res)
    rss_done = not args.no_rss and os.path.exists("/proc/self/clear_refs")
    if rss_done:
        log("fresh-process RSS peaks")
        run_rss(work, libs, texts, res)
    load = os.getloadavg() if hasattr(os, "getloadavg") else None
    if load:
        header.append(f"Load average at end: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")
    header.append(f"Run: {'quick' if args.quick else 'full'}, {repeats} repeats, clock: {CLOCKS[args.clock]}, "
                  f"{time.time() - started:.0f} s; corpus: {args.corpus}"
                  + (f" (synthetic stand-ins: {', '.join(stand_ins)})" if stand_ins else ""))

    tables = [time_table(op, work, corpus, res, repeats) for op in OPS]
    tables.append(size_table(work, res))
    for op in OPS:
        tables.append(mem_table(f"{op}: peak memory of one call, tracemalloc (Python allocators only)",
                                op, work, res.traced, {}, res))
    if rss_done:
        for op in OPS:
            tables.append(mem_table(f"{op}: peak memory of one call, fresh-process RSS high-water growth",
                                    op, work, res.rss, res.rss_errors, res))
    workload_lines = [f"{w.name}: {w.description}" for w in work]
    target_lines = targets(work, corpus, res, rss_done, collector=args.gc == "on")
    note_lines = notes(work, res, repeats, target, rss_done, collector=args.gc == "on")

    def verdict(ok: Optional[bool]) -> str:
        return "PASS" if ok else ("FAIL" if ok is False else "N/A ")

    verdicts = [f"{verdict(ok)}  {text}" for ok, text in target_lines]
    if args.markdown:
        def section(title: str, lines: List[str]) -> List[str]:
            return [f"### {title}", "", *(f"- {line}" for line in lines)]

        out = section("Machine", header) + [""] + section("Workloads", workload_lines)
        table_texts = [t.markdown() for t in tables]
        target_text = targets_block(verdicts, markdown=True)
        notes_block = section("Notes", note_lines)
    else:
        out = ["vardelquin benchmark", *(f"  {h}" for h in header), "", "workloads",
               *(f"  {x}" for x in workload_lines)]
        table_texts = [t.text() for t in tables]
        target_text = targets_block(verdicts, markdown=False)
        notes_block = ["notes", *(f"  - {n}" for n in note_lines)]
    for text in table_texts:
        out += ["", text]
    out += ["", *target_text, "", *notes_block]
    print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
