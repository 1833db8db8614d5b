"""Signals during a long dumps or loads: their handlers run while the call works, a handler's exception ends
the call promptly and passes through unchanged, and the call leaves nothing behind."""
import functools
import gc
import signal
import subprocess
import sys
import threading
import time

import pytest

from vardelquin import FormatConfig, dumps, loads

pytestmark = pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs signal.setitimer")

RECORD = {"id": 12345, "name": "a name of some length", "ok": True, "vals": [1.5, 2, "x"], "sub": {"a": None}}


@functools.lru_cache(maxsize=None)
def big():
    """A dict of a million values, and its text of about 9 MB: both made once, when a test first needs them."""
    data = {f"k{i}": [RECORD, f"é{i}"] for i in range(100_000)}
    return data, dumps(data)


class Stop(Exception):
    pass


def run(function, *args):
    """Calls function(*args): the frame that a handler sees while the call runs."""
    return function(*args)


class Alarm:
    """SIGALRM every millisecond, from `after` seconds on, for the length of a with-block. Its handler calls
    `action` (once, unless `repeat`) when it runs while run() is calling, and notes when it first did."""

    def __init__(self, action, after=0.001, repeat=False):
        self.action, self.after, self.repeat, self.runs, self.first = action, after, repeat, 0, None

    def handler(self, signum, frame):
        if frame is None or frame.f_code is not run.__code__ or (self.runs and not self.repeat):
            return
        self.runs += 1
        self.first = self.first or time.perf_counter()
        self.action()

    def __enter__(self):
        # Before 3.10 the collector runs during loads, and a gc callback that another library registered
        # (hypothesis has one) would run the pending handlers in its own frame, where an exception is only
        # reported as unraisable: with none registered, handlers run at the module's polls alone.
        self.callbacks = gc.callbacks[:]
        gc.callbacks.clear()
        self.previous = signal.signal(signal.SIGALRM, self.handler)
        signal.setitimer(signal.ITIMER_REAL, self.after, 0.001)
        return self

    def __exit__(self, *exc):
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, self.previous)
        gc.callbacks[:] = self.callbacks


def timed(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def raise_stop():
    raise Stop


CALLS = {"loads": lambda config=None: run(loads, big()[1], config),
         "dumps": lambda config=None: run(dumps, big()[0], config)}


@pytest.mark.parametrize("name", CALLS)
def test_a_raising_handler_ends_the_call_promptly(name):
    call = CALLS[name]
    full = min(timed(call) for _ in range(2))
    # Fired a tenth of the way in, the exception must come long before the call could have ended. Without
    # polls it comes at the end of the call, as the whole-call figure shows.
    # On a busy machine one run can take a fraction of another's time, and so end before its alarm: such a
    # run proves nothing either way, and is tried again.
    for _ in range(5):
        with Alarm(raise_stop, after=full / 10) as alarm:
            start = time.perf_counter()
            try:
                call()
            except Stop as stop:
                caught = stop
                break
    else:
        pytest.fail("every call ended before its alarm")
    ended = time.perf_counter()
    assert alarm.first is not None and ended - start < full / 2, (ended - start, full)
    assert caught.__traceback__ is not None
    last = caught.__traceback__
    while last.tb_next is not None:
        last = last.tb_next
    assert last.tb_frame.f_code is raise_stop.__code__  # raised by the handler, passed through unchanged
    assert loads(dumps(RECORD)) == RECORD


@pytest.mark.parametrize("name", CALLS)
def test_handlers_that_return_let_the_call_finish(name):
    runs = []
    caller_state = gc.isenabled()
    with Alarm(lambda: runs.append(gc.isenabled()), repeat=True):
        result = CALLS[name]()
    # Many ran during the call (without polls, one would run after it), each seeing the collector as the
    # caller left it, though loads keeps it off meanwhile.
    assert len(runs) > 3 and set(runs) == {caller_state}
    assert result == big()[name == "dumps"]


def switch_off_and_stop():
    gc.disable()
    raise_stop()


# (collector on before the call, what the handler does, collector on after the call)
COLLECTOR_CASES = [
    (True, raise_stop, True),
    (False, raise_stop, False),
    (True, gc.disable, False),
    (False, gc.enable, True),
    (True, switch_off_and_stop, False),
]


@pytest.mark.parametrize("enabled_before, action, enabled_after", COLLECTOR_CASES)
def test_loads_leaves_the_collector_as_the_caller_and_its_handlers_set_it(enabled_before, action, enabled_after):
    (gc.enable if enabled_before else gc.disable)()
    try:
        with Alarm(action):
            try:
                result = run(loads, big()[1])
            except Stop:
                assert action is not gc.enable and action is not gc.disable
            else:
                assert action in (gc.enable, gc.disable) and result == big()[0]
        assert gc.isenabled() == enabled_after
    finally:
        gc.enable()


@pytest.mark.parametrize("name", CALLS)
def test_a_handler_cannot_change_the_configuration_in_use(name):
    config = FormatConfig()

    def change():
        config.field_sep = ","

    with Alarm(change), pytest.raises(RuntimeError, match="Already borrowed"):
        CALLS[name](config)
    assert config.field_sep == ";"
    config.field_sep = ","  # the read hold went with the call
    assert loads(dumps(RECORD, config), config) == RECORD


def test_a_handler_that_empties_the_list_being_written():
    items = [RECORD] * 200_000
    data = {"items": items, "after": 1}
    with Alarm(items.clear):
        text = run(dumps, data)
    written = loads(text)
    assert 0 < len(written["items"]) < 200_000 and written["after"] == 1


def test_a_handler_that_changes_the_dict_being_written():
    data = dict(big()[0])
    with Alarm(lambda: data.pop("k0")), pytest.raises(BaseException, match="changed size"):
        run(dumps, data)


def test_a_handler_that_drops_the_long_str_being_written():
    # A long str is written in pieces, with polls between them; then only the call keeps it alive.
    data = {"s": "ü" * 30_000_000}
    with Alarm(data.clear), pytest.raises(BaseException, match="changed size"):
        run(dumps, data)


@pytest.mark.parametrize("wrap", [lambda items: [items], lambda items: [0, items], lambda items: items])
def test_a_handler_that_empties_the_list_of_a_long_str(wrap):
    # The items after the long str are those of its list as it is after the polls between its pieces; the
    # list that holds it is emptied too, and then only the call keeps them alive.
    items = ["ü" * 30_000_000, 1, 2.5, [3]]
    data = {"l": wrap(items), "after": 1}
    with Alarm(lambda: (items.clear(), data["l"].clear())):
        text = run(dumps, data)
    assert text.endswith("ü]" + "]" * (data["l"] is not items) + ";after=1;")


def test_interrupted_calls_leak_nothing():
    def interrupted(name):
        with Alarm(raise_stop), pytest.raises(Stop):
            CALLS[name]()

    for name in CALLS:
        interrupted(name)
    gc.collect()
    blocks = sys.getallocatedblocks()
    for _ in range(3):
        for name in CALLS:
            interrupted(name)
    gc.collect()
    assert sys.getallocatedblocks() - blocks < 100


def test_calls_on_other_threads_are_not_disturbed():
    # Handlers run on the main thread only; a long call elsewhere just goes on.
    results = []
    thread = threading.Thread(target=lambda: results.append(loads(big()[1])))
    with Alarm(lambda: None, repeat=True):
        thread.start()
        thread.join()
    assert results == [big()[0]]


def test_the_tool_exits_promptly_on_ctrl_c(tmp_path):
    path = tmp_path / "big.txt"
    # The signal goes half-way through a run as long as one timed before.
    # A run that ends before it arrives (the machine got faster meanwhile)
    # proves nothing either way: it is tried again on a longer text.
    for copies in (2, 4, 8):
        path.write_text(big()[1] * copies, encoding="utf-8")
        command = [sys.executable, "-m", "vardelquin_cli", "check", str(path)]
        full = timed(lambda: subprocess.run(command, check=True, capture_output=True, timeout=120))
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(full / 2)
        sent = time.perf_counter()
        process.send_signal(signal.SIGINT)
        _, err = process.communicate(timeout=120)
        if (process.returncode, err) != (0, b""):
            break
    assert (process.returncode, err) == (130, b"vardelquin: interrupted\n")
    assert time.perf_counter() - sent < full / 3, (time.perf_counter() - sent, full)
