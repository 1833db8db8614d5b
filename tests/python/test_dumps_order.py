"""dumps writes nested dicts sorted by key, yet meets everything in the
dicts' own order: str() runs in that order, and the first failure met is
the one raised."""
import pytest

import model
from vardelquin import FormatConfig, dumps


class Recorder:
    """Records when its str() runs; raises if given an exception."""

    def __init__(self, log, name, error=None):
        self.log, self.name, self.error = log, name, error

    def __str__(self):
        self.log.append(self.name)
        if self.error is not None:
            raise self.error
        return self.name + ";"


class Key(str):
    """Distinct keys with equal text: each instance hashes and compares as itself."""

    __hash__ = object.__hash__

    def __eq__(self, other):
        return self is other


def tree(r):
    """Nested dicts with unsorted keys, lists between them; r(name) makes a leaf."""
    return {
        "z": r("1"),
        "o": {"y": r("2"), "b": [r("3"), {"q": r("4"), "c": r("5")}, r("6")], "a": r("7"),
              "m": {"x": {"e": r("8"), "d": r("9")}, "w": r("10")}},
        "c": [r("11"), {"k": r("12"), "j": r("13")}],
        "a": r("14"),
    }


def test_str_runs_in_dict_order_while_keys_are_written_sorted():
    log, model_log = [], []
    text = dumps(tree(lambda name: Recorder(log, name)))
    assert log == [str(i) for i in range(1, 15)]
    assert text == model.dumps(tree(lambda name: Recorder(model_log, name)))
    assert text.startswith("z=1\\;;o={a=7\\;;b=[3\\;|{c=5\\;;q=4\\;}|6\\;];m={w=10\\;;x={d=9\\;;e=8\\;}};y=2\\;};")


@pytest.mark.parametrize("failing", [("3", "7"), ("7", "3"), ("9", "8"), ("12", "13"), ("8", "14"), ("2", "5")])
def test_first_failure_in_dict_order_wins(failing):
    """Two values fail; the one met first in the dicts' order is raised,
    wherever the sort puts it, and nothing after it runs."""
    first, second = failing
    errors = {first: ValueError(first), second: KeyError(second)}
    log = []
    obj = tree(lambda name: Recorder(log, name, errors.get(name)))
    order = [str(i) for i in range(1, 15)]
    winner = min(failing, key=order.index)
    with pytest.raises((ValueError, KeyError)) as info:
        dumps(obj)
    assert info.value is errors[winner]
    assert log == order[:order.index(winner) + 1]


@pytest.mark.parametrize("obj, error", [
    # A value fails before a later bad key is met.
    (lambda r: {"o": {"z": r("v", ZeroDivisionError("v")), 1: "x"}}, ZeroDivisionError),
    # A bad key fails before its value's str() runs, and before later values.
    (lambda r: {"o": {"b": r("v"), 2: r("w", ZeroDivisionError("w")), "a": r("u")}}, TypeError),
    (lambda r: {"o": {"b": {"d": r("v")}, "a": [{"\ud800": r("w")}]}}, UnicodeEncodeError),
    (lambda r: {"o": {"b": r("v"), "a": 2**64, "c": r("w", ZeroDivisionError("w"))}}, OverflowError),
])
def test_key_and_value_failures_in_order(obj, error):
    log = []
    with pytest.raises(error):
        dumps(obj(lambda name, e=None: Recorder(log, name, e)))
    assert log == ["v"]


@pytest.mark.parametrize("fields", [(), (",", ":", "<", ">", "/", "(", ")", "!")])
def test_equal_text_keys_at_every_level(fields):
    """Nested: only the later value, in its sorted place; top level: both."""
    cfg = FormatConfig(*fields)
    deep = {Key("q"): 1, "p": 0, Key("q"): [{Key("s"): "x", "r;": "y", Key("s"): "z"}]}
    obj = {
        Key("k"): 1,
        Key("k"): {Key("b"): 1, "a": {"z": 1, Key("m"): deep, "c": 3, Key("m"): 4}, Key("b"): [deep, deep]},
        "l": [{Key("x"): "1", Key("x"): "2", "w": None}, [{Key("x"): 1.5, "": 0, Key("x"): -1}]],
    }
    text = dumps(obj, cfg)
    assert text == model.dumps(obj, cfg)
    if not fields:
        assert text.startswith("k=1;k={a={c=3;m=4;z=1};b=[{p=0;q=[{r\\;=y;s=z}]}|")


@pytest.mark.parametrize("size", [10, 100_000])
def test_unsorted_members_with_long_text_move_whole(size):
    """An object rearranged around long escaped texts, nested ones rearranged
    first, keeps every byte."""
    long = "é;" * size
    inner = {"y": long, "b": [long, {"d": long, "c": "x"}], "a": "é" * size}
    obj = {"o": {"z": inner, "m": {"q": inner, "p": long}, "a": [inner, long]}, "t": long}
    assert dumps(obj) == model.dumps(obj)
