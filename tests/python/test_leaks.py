"""Each public path, success and failure, repeated: allocated blocks (and a debug build's total reference
count) must not grow, and the objects passed in keep their reference counts."""
import decimal
import functools
import gc
import sys

import pytest

from vardelquin import FormatConfig, dumps, loads

ROUNDS, ALLOWANCE = 2000, 40  # a kept reference grows by one a call; the allowance is for caches settling
CFG = FormatConfig(escape="%")
VALUE, LONG = "".join(["not ", "interned"]), "".join(["long "] * 30)  # copied, and referenced, by dumps
OTHER = decimal.Decimal("1.5")  # written through str()
SELF = [VALUE]
SELF.append(SELF)


class Calls:  # written as what fn returns
    __init__ = lambda self, fn: setattr(self, "fn", fn)  # noqa: E731
    __str__ = lambda self: self.fn()  # noqa: E731


def changing(delete, add=None):  # a dict that changes while its first value is written
    data = {"a": Calls(lambda: (data.pop(delete), data.update({add: 0} if add else {}), "x")[2]), "b": LONG}
    return data


def deep(n):
    return functools.reduce(lambda v, _: [v], range(n - 1), [])


SAMPLE = {"n": None, "t": True, "i": -2**63, "x": 1.5, "nan": float("nan"), "s": VALUE, "long": LONG,
          "l": [1, VALUE, [], {}, (1, 2), OTHER], "o": {"b": {"c": [LONG]}, "a": 2.0}, "deep": deep(50)}
TEXT = dumps(SAMPLE)
RECORDS = "r=[" + "|".join("{id=%d;name=n%d;ok=true}" % (i, i) for i in range(50)) + "];"
NEW = (";", "=", "[", "]", "|", "{", "}", "\\")
CASES = [  # (name, call, the exception it raises or None)
    ("dumps", lambda: dumps(SAMPLE), None), ("dumps-config", lambda: dumps(SAMPLE, CFG), None),
    ("dumps-deep", lambda: dumps({"d": deep(1000)}), None), ("loads", lambda: loads(TEXT), None),
    ("loads-config", lambda: loads(TEXT, config=CFG), None), ("loads-records", lambda: loads(RECORDS), None),
    ("loads-deep", lambda: loads("a=" + "[" * 1000 + "]" * 1000), None), ("repr", lambda: repr(CFG), None),
    ("new", lambda: FormatConfig(*NEW, "nil", "yes", "no"), None), ("dumps-no-args", lambda: dumps(), TypeError),
    ("set", lambda: setattr(FormatConfig(), "null_str", LONG), None), ("obj-type", lambda: dumps(LONG), TypeError),
    ("too-many", lambda: dumps({}, None, 1), TypeError), ("bad-keyword", lambda: dumps({}, cfg=None), TypeError),
    ("config-type", lambda: dumps({}, VALUE), TypeError), ("s-type", lambda: loads(OTHER), TypeError),
    ("loads-config-type", lambda: loads(TEXT, LONG), TypeError), ("utf8", lambda: loads("\ud800"), UnicodeEncodeError),
    ("key-type", lambda: dumps({"k": LONG, "o": [{VALUE: 1, 1: 2}]}, CFG), TypeError),
    ("overflow", lambda: dumps({"l": [LONG, -2**64]}), OverflowError),
    ("dumps-surrogate", lambda: dumps({"k": LONG, "s": "a\ud800"}), UnicodeEncodeError),
    ("str-raises", lambda: dumps({"k": OTHER, "l": [Calls(lambda: 1 / 0)]}, CFG), ZeroDivisionError),
    ("str-not-text", lambda: dumps({"x": Calls(lambda: 5)}), TypeError),
    ("dumps-too-deep", lambda: dumps({"k": LONG, "d": deep(1001)}), RecursionError),
    ("cycle", lambda: dumps({"s": SELF}, CFG), RecursionError), ("at-pos", lambda: loads(TEXT + "x={b}"), ValueError),
    ("loads-too-deep", lambda: loads("a=" + "{k=" * 1001, CFG), ValueError),
    # Text ending inside open lists and objects: every object made so far, and the escaped keys kept, go.
    ("loads-ends-open", lambda: loads("a={z\\;=1;y=[2|" + RECORDS[2:-1] + "|{k=[x|{q\\;=1.5;p=s"), ValueError),
    ("new-type", lambda: FormatConfig(5), TypeError), ("new-length", lambda: FormatConfig("ab"), ValueError),
    ("new-surrogate", lambda: FormatConfig("\ud800"), UnicodeEncodeError),
    ("rule", lambda: FormatConfig(*NEW, "a;b"), ValueError), ("del", lambda: delattr(CFG, "escape"), AttributeError),
    ("set-rule", lambda: setattr(FormatConfig(), "null_str", VALUE + ";"), ValueError),
    ("borrowed", lambda: dumps({"x": Calls(lambda: setattr(CFG, "field_sep", ","))}, CFG), RuntimeError),
    ("size", lambda: dumps(changing("b")), BaseException), ("keys", lambda: dumps(changing("a", "c")), BaseException),
]


def call(function, expected):
    try:
        function()
    except BaseException as exc:  # InternalFailure derives from BaseException
        assert expected and isinstance(exc, expected), repr(exc)
        return
    assert expected is None, f"no {expected.__name__}"


def check(function, expected, rounds, windows=1):
    """A leak grows by at least one block or reference per call in every window of `rounds` calls; caches
    of the interpreter's own settle, so growth must stop within `windows` measured windows."""
    total_refs = getattr(sys, "gettotalrefcount", lambda: 0)
    for _ in range(rounds // 4):  # a warm-up
        call(function, expected)
    for window in range(windows):
        gc.collect()
        blocks, refs = sys.getallocatedblocks(), total_refs()
        for _ in range(rounds):
            call(function, expected)
        gc.collect()
        grown = sys.getallocatedblocks() - blocks, total_refs() - refs
        if max(grown) < ALLOWANCE or window == windows - 1:
            break
    assert grown[0] < ALLOWANCE, f"more blocks after {rounds} calls"
    assert grown[1] < ALLOWANCE, f"more references after {rounds} calls"


def rounds_for(name):  # also used by the sanitizer script's leak loop
    return ROUNDS // 10 if "deep" in name or "cycle" in name else ROUNDS


@pytest.mark.parametrize("name, function, expected", CASES, ids=[c[0] for c in CASES])
def test_no_growth(name, function, expected):
    check(function, expected, rounds_for(name))


def test_no_growth_when_an_internal_failure_is_resumed(capfd):
    # Each call prints the resumed failure's traceback: fewer rounds per window, and more windows, since
    # 3.12's traceback printing keeps filling caches of its own for the first thousand or so calls.
    check(lambda: dumps({"k": Calls(lambda: dumps(changing("b")))}), BaseException, rounds=200, windows=10)
    assert "Python stack trace below:" in capfd.readouterr().err


def test_passed_objects_keep_their_reference_counts():
    def counts():
        gc.collect()
        return [sys.getrefcount(o) for o in (CFG, VALUE, LONG, OTHER, TEXT, SAMPLE, FormatConfig)]

    for _ in range(2):
        before = counts()
        for _, function, expected in CASES * 20:
            call(function, expected)
    assert counts() == before
