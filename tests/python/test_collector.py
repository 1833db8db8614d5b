"""Code that the cyclic collector runs while loads builds its result (callbacks, finalisers walking every
object it tracks) must never meet a half-built container; loads leaves the collector as it found it."""
import gc
import re
import sys

import pytest

from vardelquin import loads

RECORDS = "a=[" + "|".join("{k=%d}" % i for i in range(5000)) + "]"
NESTED = ("a=[" + "|".join("[{k=[%d|{x=[%d|[]]}]}|[]|[[x|{}]]]" % (i, i) for i in range(1500)) + "];"
          + ";".join("t%d={l=[{y=[%d]}|[[]]];m={}}" % (i, i) for i in range(1500)))


def read_every_slot():
    """Reads each item of every list and each value of every dict the collector tracks."""
    for o in gc.get_objects():
        if type(o) is list:
            for x in o:
                type(x)
        elif type(o) is dict:
            for x in o.values():
                type(x)


class WalksWhenCollected:
    runs = 0

    def __init__(self):
        self.cycle = self

    def __del__(self):
        type(self).runs += 1
        read_every_slot()


@pytest.fixture
def collector_on():
    was = gc.isenabled()
    gc.enable()
    yield
    if not was:
        gc.disable()


@pytest.mark.parametrize("text", [RECORDS, NESTED], ids=["records", "nested"])
def test_collector_callback_walking_every_object_during_loads(collector_on, text):
    expected = loads(text)
    calls = []
    callback = lambda phase, info: phase == "start" and (calls.append(phase), read_every_slot())  # noqa: E731
    gc.collect()
    gc.callbacks.append(callback)
    try:
        result = loads(text)
    finally:
        gc.callbacks.remove(callback)
    assert result == expected
    # 3.10 and later pause the collector while loads builds; 3.9 cannot, so there it runs inside.
    assert calls or sys.version_info >= (3, 10)


@pytest.mark.parametrize("text", [RECORDS, NESTED], ids=["records", "nested"])
def test_finalisers_walking_every_object_during_loads(collector_on, text):
    expected = loads(text)
    gc.collect()
    WalksWhenCollected.runs = 0
    for _ in range(3):  # young garbage, collected by the first collection that loads sets off
        WalksWhenCollected()
    result = loads(text)
    gc.collect()
    assert result == expected and WalksWhenCollected.runs == 3


@pytest.mark.parametrize("enabled", [True, False], ids=["enabled", "disabled"])
@pytest.mark.parametrize("text, error", [
    ("a=[1|{b=2}];c={d=[]}", None), ("", None), ("a=" + "[{k=" * 500 + "}]" * 500, None),
    ("a=[1|{b=2}", "Unterminated list"), ("a=" + "[" * 1001, "Maximum nesting depth of 1000 exceeded at pos 1002"),
    (b"a=1", "argument 's': 'bytes' object cannot be cast as 'str'"),
])
def test_loads_leaves_the_collector_as_it_found_it(enabled, text, error):
    was = gc.isenabled()
    (gc.enable if enabled else gc.disable)()
    try:
        if error is None:
            loads(text)
        else:
            with pytest.raises((ValueError, TypeError), match="^%s$" % re.escape(error)):
                loads(text)
        assert gc.isenabled() is enabled
    finally:
        (gc.enable if was else gc.disable)()
