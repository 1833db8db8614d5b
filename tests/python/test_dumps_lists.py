"""Lists are written a run of scalars at a time: None, bools, ints, floats
and strs of the exact built-in types go straight to the text, and only
other items go through the general path. These cases sit at the edges of
such runs."""
import pytest

import model
from test_hostile import Does
from vardelquin import dumps


class Int(int):
    def __str__(self):
        return "not this"

    __repr__ = __str__


class Float(float):
    def __str__(self):
        return "not this"

    __repr__ = __str__


class Str(str):
    def __str__(self):
        return "not this"


@pytest.mark.parametrize("items, text", [
    ([], "[]"),
    ([[], [[]], [[], 1]], "[[]|[[]]|[[]|1]]"),
    ([1, 2.5, True, False, None, "s", -0.0, 10**18], "[1|2.5|true|false|null|s|-0.0|1000000000000000000]"),
    ([Int(7), Float(2.5), Str("s;"), True, Int(-1)], "[7|2.5|s\\;|true|-1]"),
    ([1, Int(2), 3.0, Float(4.0), 5], "[1|2|3.0|4.0|5]"),
    ([1.5, [2, [3.5, {"b": 1, "a": [False]}], 4], 5], "[1.5|[2|[3.5|{a=[false];b=1}]|4]|5]"),
    ([0, {}, 0, [], 0, (1,), 0], "[0|{}|0|[]|0|(1,)|0]"),
    (["", "a|b", "é", 0.1, float("inf"), float("nan")], "[|a\\|b|é|0.1|inf|NaN]"),
    ([0.1, -1e-7, 4503599627370495.5, 1e-20, -0.0, 1e16, -1.0000000000000002],
     "[0.1|-0.0000001|4503599627370495.5|0.00000000000000000001|-0.0|10000000000000000.0|-1.0000000000000002]"),
])
def test_mixed_items(items, text):
    assert dumps({"l": items}) == "l=" + text + ";" == model.dumps({"l": items})


@pytest.mark.parametrize("items, error", [
    ([1, 2.5, 2**63, Does(lambda: None)], OverflowError),  # failures in the run come in order
    ([1, "ok", "\ud800", 2**63], UnicodeEncodeError),
    ([1, [2, [3, -2**63 - 1]], "\udfff"], OverflowError),
    ([1, Does(lambda: 1 / 0), 2**63], ZeroDivisionError),
])
def test_first_failure_in_a_run_wins(items, error):
    with pytest.raises(error):
        dumps({"l": items})


def test_str_runs_in_order_around_runs_of_scalars():
    log = []
    items = [1, [2.0, Does(lambda: log.append("a")), 3], "s", Does(lambda: log.append("b")), [[], 4]]
    assert dumps({"l": items}) == "l=[1|[2.0|x|3]|s|x|[[]|4]];"
    assert log == ["a", "b"]


@pytest.mark.parametrize("change, text", [
    # The items after str() are those of the list as it is then.
    (lambda lst: lst.__setitem__(2, {"b": 1.5}), "[1|x|{b=1.5}|4]"),
    (lambda lst: lst.__setitem__(3, Int(9)), "[1|x|3.0|9]"),
    (lambda lst: lst.__setitem__(2, [lst.pop()]), "[1|x|[4]]"),
    (lambda lst: lst.__delitem__(slice(2, None)), "[1|x]"),
    (lambda lst: lst.insert(0, "new"), "[1|x|x|x]"),  # the same item, moved up, again
    (lambda lst: lst.append(5), "[1|x|3.0|4]"),
])
def test_list_changed_by_str_of_an_item(change, text):
    items = []
    items.extend([1, Does(lambda: change(items)), 3.0, 4])
    assert dumps({"l": items}) == "l=" + text + ";"
