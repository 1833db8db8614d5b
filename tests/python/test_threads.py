"""Eight threads call dumps and loads on shared and private configs while another flips properties of
one shared config: each result is the single-threaded one under a state it passes through, and the only
conflict allowed is the setter's "Already borrowed" while a dumps holding that config runs a __str__."""
import itertools
import os
import sys
import threading
import time

from vardelquin import FormatConfig, dumps, loads

SECONDS, WORKERS = float(os.environ.get("VARDELQUIN_STRESS_SECONDS", "2")), 8
Yields = type("Yields", (), {"__str__": lambda self: time.sleep(0) or "yielded"})  # gives the lock away
PLAIN = {"k": "a;b%c\\", "n": None, "l": [1, None, "x|y", -2.5], "o": {"z": None, "a": [True, {}]}}
YIELDING = dict(PLAIN, y=[Yields(), {"y": Yields()}])
TEXT = "a=nil;b=null;c=x%;y\\;z;d=[nil|%|];"
TOGGLES = {"escape": ("\\", "%"), "null_str": ("null", "nil")}  # one flip at a time: four states
STATES = [FormatConfig(**dict(zip(TOGGLES, values))) for values in itertools.product(*TOGGLES.values())]
PRIVATE = [FormatConfig(field_sep=",", kv_sep=":", null_str="~%d" % i) for i in range(WORKERS)]
SHARED = FormatConfig(list_sep="/")


def run(data, seconds):
    changing, stop, failures, calls, conflicts = FormatConfig(), threading.Event(), [], [0] * WORKERS, [0]
    outs, reads = {dumps(data, cfg) for cfg in STATES}, [loads(TEXT, cfg) for cfg in STATES]
    mine = [(dumps(data, cfg), loads(dumps(data, cfg), cfg)) for cfg in PRIVATE]
    shared = (dumps(data, SHARED), loads(TEXT, SHARED))

    def worker(i):
        try:
            while not stop.is_set():
                assert dumps(data, changing) in outs and loads(TEXT, changing) in reads
                assert (dumps(data, PRIVATE[i]), loads(mine[i][0], PRIVATE[i])) == mine[i]
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
                        assert str(exc) == "Already borrowed" and getattr(changing, name) == old, exc
                        assert data is YIELDING, "a conflict although no Python code runs inside dumps"
                        conflicts[0] += 1
        except BaseException as exc:  # noqa: BLE001
            failures.append(("setter", repr(exc)))
            stop.set()

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(WORKERS)] + [threading.Thread(target=setter)]
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    for t in threads:
        t.start()
    time.sleep(seconds)
    stop.set()
    for t in threads:
        t.join()
    sys.setswitchinterval(interval)
    assert failures == [] and all(calls), (failures, calls)
    for cfg in (changing, SHARED, *PRIVATE):  # every hold was released
        cfg.true_str = cfg.true_str
    return conflicts[0]


def test_threads_see_whole_configs_and_only_allowed_conflicts():
    assert run(PLAIN, SECONDS / 2) == 0
    print(f"\n{run(YIELDING, SECONDS / 2)} 'Already borrowed' conflicts of the setter")
