"""Eight threads call dumps and loads on shared and private FormatConfig
objects while another thread changes the properties of one of the shared
ones. Every result must be the single-threaded result for one of the
states that config passes through, and a borrow conflict may only be the
setter's "Already borrowed" while a dumps that holds the config runs
Python code (a __str__ method), never a failure of dumps or loads.

The run lasts VARDELQUIN_STRESS_SECONDS seconds (default 2), split between
data without and with a Python __str__ method.
"""
import itertools
import os
import sys
import threading
import time

from vardelquin import FormatConfig, dumps, loads

SECONDS = float(os.environ.get("VARDELQUIN_STRESS_SECONDS", "2"))
WORKERS = 8


class Yields:
    """Gives the interpreter lock away in the middle of dumps."""

    def __str__(self):
        time.sleep(0)
        return "yielded"


PLAIN = {"k": "a;b%c\\", "n": None, "l": [1, None, "x|y", -2.5], "o": {"z": None, "a": [True, {}]}}
YIELDING = dict(PLAIN, y=[Yields(), {"y": Yields()}])
TEXT = "a=nil;b=null;c=x%;y\\;z;d=[nil|%|];"
# The setter flips one property at a time, so these four are every state.
TOGGLES = {"escape": ("\\", "%"), "null_str": ("null", "nil")}
STATES = [dict(zip(TOGGLES, values)) for values in itertools.product(*TOGGLES.values())]
PRIVATE = [FormatConfig(field_sep=",", kv_sep=":", null_str="~%d" % i) for i in range(WORKERS)]
SHARED = FormatConfig(list_sep="/")


def expected(data, text):
    """The dumps and loads results under each state of the changing config."""
    outs = {dumps(data, FormatConfig(**state)) for state in STATES}
    reads = [loads(text, FormatConfig(**state)) for state in STATES]
    return outs, reads


def run(data, seconds):
    changing = FormatConfig()
    outs, reads = expected(data, TEXT)
    mine = [(dumps(data, cfg), loads(dumps(data, cfg), cfg)) for cfg in PRIVATE]
    shared = (dumps(data, SHARED), loads(TEXT, SHARED))
    stop = threading.Event()
    failures, calls, conflicts = [], [0] * WORKERS, [0]

    def worker(i):
        try:
            while not stop.is_set():
                assert dumps(data, changing) in outs
                assert loads(TEXT, changing) in reads
                assert dumps(data, PRIVATE[i]) == mine[i][0]
                assert loads(mine[i][0], PRIVATE[i]) == mine[i][1]
                assert (dumps(data, SHARED), loads(TEXT, config=SHARED)) == shared
                calls[i] += 5
        except BaseException as exc:  # noqa: BLE001 - reported by the main thread
            failures.append((i, repr(exc)))
            stop.set()

    def setter():
        try:
            while not stop.is_set():
                for name, values in TOGGLES.items():
                    old = getattr(changing, name)
                    try:
                        setattr(changing, name, values[values[0] == old])
                    except RuntimeError as exc:
                        assert str(exc) == "Already borrowed", exc
                        assert data is YIELDING, "a conflict although no Python code runs inside dumps"
                        assert getattr(changing, name) == old
                        conflicts[0] += 1
        except BaseException as exc:  # noqa: BLE001
            failures.append(("setter", repr(exc)))
            stop.set()

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(WORKERS)]
    threads.append(threading.Thread(target=setter))
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        for t in threads:
            t.start()
        time.sleep(seconds)
        stop.set()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    assert failures == []
    assert all(calls), calls
    # Every hold was released: the configs can still be written.
    for cfg in (changing, SHARED, *PRIVATE):
        cfg.true_str = cfg.true_str
    return sum(calls), conflicts[0]


def test_threads_see_whole_configs_and_only_allowed_conflicts():
    started = time.perf_counter()
    plain_calls, plain_conflicts = run(PLAIN, SECONDS / 2)
    yielding_calls, conflicts = run(YIELDING, SECONDS / 2)
    elapsed = time.perf_counter() - started
    assert plain_conflicts == 0
    print(f"\nthreads: {plain_calls + yielding_calls} calls in {elapsed:.1f} s, "
          f"{conflicts} 'Already borrowed' conflicts of the setter")
