"""Peak resident memory of one call, measured in a fresh process.

    python rss_probe.py LIBRARY dumps|loads INPUT_FILE

For dumps, INPUT_FILE is a pickled document; for loads, it is the text the
library wrote (raw bytes; decoded to str for libraries that write str). The
probe imports only that library, warms it up on a tiny document, resets the
kernel's resident high-water mark (Linux: /proc/self/clear_refs), makes one
call and prints the growth of the high-water mark over the resident size
before the call, in bytes. Unlike tracemalloc, this sees every allocation
(C and C++ heaps too), at page granularity. Memory freed by the preparation
and reused by the call is not seen, so the figure is a lower bound; it is
the same for every library.
"""

from __future__ import annotations

import gc
import os
import pickle
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import libraries  # noqa: E402

STR_WRITERS = {"vardelquin", "json", "ujson", libraries.SORTED_STR}


def status_kib(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"{field} not in /proc/self/status")


def main() -> int:
    name, op, path = sys.argv[1:4]
    lib = libraries.load(name)
    sample = {"a": [1, 2.5, "x", None, True, {"b": "\u00e9\u4e2d"}], "c": "d"}
    for _ in range(3):
        text = lib.dumps(sample)
        if lib.loads is not None:
            lib.loads(text)

    if op == "dumps":
        sys.setrecursionlimit(max(sys.getrecursionlimit(), 10_000))  # the deep workload
        with open(path, "rb") as f:
            arg = pickle.load(f)
        fn = lib.dumps
    else:
        with open(path, "rb") as f:
            arg = f.read()
        if name in STR_WRITERS:
            arg = arg.decode("utf-8")
        fn = lib.loads

    gc.collect()
    gc.disable()
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError as e:
        print(f"n/a: cannot reset the high-water mark ({e})")
        return 0
    before = status_kib("VmHWM")
    try:
        result = fn(arg)
    except Exception as e:  # reported, not fatal
        print(f"error: {type(e).__name__}")
        return 0
    peak = status_kib("VmHWM")
    del result
    print((peak - before) * 1024)
    return 0


if __name__ == "__main__":
    sys.exit(main())
