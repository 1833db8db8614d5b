"""Every public path, success and each kind of failure, repeated many times:
the interpreter's count of allocated memory blocks, and on a debug
interpreter its total reference count, must not grow with the number of
calls. A reference or a buffer kept by one call shows as growth of at
least one per call; the allowance only covers the interpreter's caches
settling.
"""
import gc
import sys

import pytest

from vardelquin import FormatConfig, dumps, loads

ROUNDS = 2000
ALLOWANCE = 40


class Boom:
    def __str__(self):
        raise ZeroDivisionError("boom")


class NotText:
    def __str__(self):
        return 5


class Mutator:
    """Changes the dict being written while its value is turned into text."""

    def __init__(self, delete, add=None):
        self.delete, self.add = delete, add

    def __str__(self):
        del self.target[self.delete]
        if self.add is not None:
            self.target[self.add] = 0
        return "x"


def changing(delete, add=None):
    mutator = Mutator(delete, add)
    data = {"a": mutator, "b": 1}
    mutator.target = data
    return data


class Reenters:
    """Whose text comes from dumps of a dict that changes: the internal
    failure travels through Python and is resumed."""

    def __str__(self):
        return dumps(changing("b"))


class SetsConfig:
    def __init__(self, cfg):
        self.cfg = cfg

    def __str__(self):
        self.cfg.field_sep = ","
        return "x"


def deep_list(n):
    v = []
    for _ in range(n - 1):
        v = [v]
    return v


SELF = []
SELF.append(SELF)
CFG = FormatConfig(escape="%")
SAMPLE = {
    "n": None, "t": True, "f": False, "i": -2**63, "x": 1.5, "nan": float("nan"),
    "s": "a;b é€🙂", "l": [1, "x", [], {}, (1, 2)], "o": {"b": {"c": [None]}, "a": 2.0},
    "obj": object(), "big": "x" * 5000, "deep": deep_list(50),
}
TEXT = dumps(SAMPLE)
RECORDS = "r=[" + "|".join("{id=%d;name=n%d;ok=true}" % (i, i) for i in range(50)) + "];"
DEEP_TEXT = "a=" + "[" * 1000 + "]" * 1000 + ";"


# (name, call, expected exception or None)
CASES = [
    ("dumps", lambda: dumps(SAMPLE), None),
    ("dumps-config", lambda: dumps(SAMPLE, CFG), None),
    ("dumps-deep-at-bound", lambda: dumps({"d": deep_list(1000)}), None),
    ("loads", lambda: loads(TEXT), None),
    ("loads-config", lambda: loads(TEXT, CFG), None),
    ("loads-records", lambda: loads(RECORDS), None),
    ("loads-deep-at-bound", lambda: loads(DEEP_TEXT), None),
    ("config-new", lambda: FormatConfig(";", "=", "[", "]", "|", "{", "}", "%", "nil", "yes", "no"), None),
    ("config-repr", lambda: repr(CFG), None),
    ("config-special-chars", lambda: FormatConfig.special_chars(CFG), None),
    ("config-set", lambda: setattr(FormatConfig(), "null_str", "nothing"), None),
    ("dumps-no-args", lambda: dumps(), TypeError),
    ("dumps-too-many", lambda: dumps({}, None, 1), TypeError),
    ("dumps-bad-keyword", lambda: dumps({}, cfg=None), TypeError),
    ("dumps-obj-not-dict", lambda: dumps([1]), TypeError),
    ("dumps-config-not-config", lambda: dumps({}, {}), TypeError),
    ("loads-no-args", lambda: loads(), TypeError),
    ("loads-bytes", lambda: loads(b"a=1;"), TypeError),
    ("loads-config-not-config", lambda: loads("a=1;", 1), TypeError),
    ("dumps-bad-key", lambda: dumps({"o": [{1: 2}]}), TypeError),
    ("dumps-overflow", lambda: dumps({"l": [1, -2**64]}), OverflowError),
    ("dumps-surrogate-value", lambda: dumps({"s": "a\ud800"}), UnicodeEncodeError),
    ("dumps-surrogate-key", lambda: dumps({"o": {"\udfff": 1}}), UnicodeEncodeError),
    ("loads-surrogate", lambda: loads("a=\ud800"), UnicodeEncodeError),
    ("dumps-str-raises", lambda: dumps({"l": [Boom()]}), ZeroDivisionError),
    ("dumps-str-not-text", lambda: dumps({"x": NotText()}), TypeError),
    ("dumps-too-deep", lambda: dumps({"d": deep_list(1001)}), RecursionError),
    ("dumps-self-containing", lambda: dumps({"s": SELF}), RecursionError),
    ("loads-too-deep", lambda: loads("a=" + "{k=" * 1001 + "}" * 1001), ValueError),
    ("loads-expected-eof", lambda: loads("a={x"), ValueError),
    ("loads-expected-at", lambda: loads("a={b}"), ValueError),
    ("loads-unterminated-list", lambda: loads("a=[1|2"), ValueError),
    ("loads-unexpected-in-list", lambda: loads("a=[1}2]"), ValueError),
    ("loads-unterminated-object", lambda: loads("a={x=1"), ValueError),
    ("loads-unexpected-in-object", lambda: loads("a={x=1]"), ValueError),
    ("config-new-type", lambda: FormatConfig(5), TypeError),
    ("config-new-length", lambda: FormatConfig("ab"), ValueError),
    ("config-new-surrogate", lambda: FormatConfig("\ud800"), UnicodeEncodeError),
    ("config-new-too-many", lambda: FormatConfig(*";" * 12), TypeError),
    ("config-new-ascii", lambda: FormatConfig("é"), ValueError),
    ("config-new-conflict", lambda: FormatConfig(";", ";"), ValueError),
    ("config-new-empty", lambda: FormatConfig(";", "=", "[", "]", "|", "{", "}", "\\", ""), ValueError),
    ("config-new-same-keywords", lambda: FormatConfig(";", "=", "[", "]", "|", "{", "}", "\\", "x", "x"), ValueError),
    ("config-new-delimiter-in-keyword", lambda: FormatConfig(";", "=", "[", "]", "|", "{", "}", "\\", "a;b"), ValueError),
    ("config-set-type", lambda: setattr(FormatConfig(), "field_sep", 5), TypeError),
    ("config-set-length", lambda: setattr(FormatConfig(), "kv_sep", ""), ValueError),
    ("config-set-keyword-type", lambda: setattr(FormatConfig(), "null_str", None), TypeError),
    ("config-set-conflict", lambda: setattr(FormatConfig(), "kv_sep", ";"), ValueError),
    ("config-set-surrogate", lambda: setattr(FormatConfig(), "true_str", "\udc00"), UnicodeEncodeError),
    ("config-delete", lambda: delattr(FormatConfig(), "escape"), AttributeError),
    ("config-set-while-borrowed", lambda: dumps({"x": SetsConfig(CFG)}, CFG), RuntimeError),
    ("internal-size-changed", lambda: dumps(changing("b")), BaseException),
    ("internal-keys-changed", lambda: dumps(changing("a", "c")), BaseException),
]


def call(function, expected):
    try:
        function()
    except BaseException as exc:  # InternalFailure derives from BaseException
        if expected is None or not isinstance(exc, expected):
            raise


def growth(function, expected, rounds):
    total_refs = getattr(sys, "gettotalrefcount", lambda: 0)
    for _ in range(rounds // 4):
        call(function, expected)
    gc.collect()
    blocks, refs = sys.getallocatedblocks(), total_refs()
    for _ in range(rounds):
        call(function, expected)
    gc.collect()
    return sys.getallocatedblocks() - blocks, total_refs() - refs


def rounds_for(name):
    return ROUNDS // 10 if "deep" in name or "self" in name else ROUNDS


def check(function, expected, rounds=ROUNDS):
    if expected is not None:
        with pytest.raises(expected):
            function()
    blocks, refs = growth(function, expected, rounds)
    assert blocks < ALLOWANCE, f"{blocks} blocks more after {rounds} calls"
    assert refs < ALLOWANCE, f"{refs} references more after {rounds} calls"


@pytest.mark.parametrize("name, function, expected", CASES, ids=[c[0] for c in CASES])
def test_no_growth(name, function, expected):
    check(function, expected, rounds_for(name))


def test_no_growth_when_an_internal_failure_is_resumed(capfd):
    # Each call prints the resumed failure's traceback: fewer rounds.
    check(lambda: dumps({"k": Reenters()}), BaseException, rounds=200)
    assert "Python stack trace below:" in capfd.readouterr().err


def test_failed_calls_release_their_arguments():
    held = [["x" * 100, {"k": [1.5]}], Boom()]
    obj = {"a": held}
    before = sys.getrefcount(held), sys.getrefcount(obj), sys.getrefcount(CFG)
    for _ in range(100):
        with pytest.raises(ZeroDivisionError):
            dumps(obj, CFG)
        with pytest.raises(ValueError):
            loads("a=[1}", CFG)
    assert (sys.getrefcount(held), sys.getrefcount(obj), sys.getrefcount(CFG)) == before
