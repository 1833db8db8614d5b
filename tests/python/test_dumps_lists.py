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


# A list of scalars inside a list is written whole, with no frame of its own; one that holds anything else
# is taken back and written the general way.
@pytest.mark.parametrize("items, text", [
    ([[1, 2.5], [None, True], ["s", -0.0], []], "[[1|2.5]|[null|true]|[s|-0.0]|[]]"),
    ([[1, 2], [1, {"a": 1}], [3]], "[[1|2]|[1|{a=1}]|[3]]"),
    ([[1, 2], [1, [2, [3]], 4], [5]], "[[1|2]|[1|[2|[3]]|4]|[5]]"),
    ([[Int(1), 2], [1, Float(2.5)], [Str("a|")]], "[[1|2]|[1|2.5]|[a\\|]]"),
    ([{"k": [[1, 2.5]]}, [[]], [[], [0]]], "[{k=[[1|2.5]]}|[[]]|[[]|[0]]]"),
    ([[1, (2,)], [b"x"], [0]], "[[1|(2,)]|[b'x']|[0]]"),
    ([[2**30, -2**30, 2**62, -2**63, 2**63 - 1], [Int(2**40)]],
     "[[1073741824|-1073741824|4611686018427387904|-9223372036854775808|9223372036854775807]|[1099511627776]]"),
])
def test_lists_of_scalars_inside_lists(items, text):
    assert dumps({"l": items}) == "l=" + text + ";" == model.dumps({"l": items})


@pytest.mark.parametrize("items, error, message", [
    ([[1, 2**63], Does(lambda: 1 / 0)], OverflowError, "int too big to convert"),
    ([[1, Int(-2**63 - 1)]], OverflowError, "int too big to convert"),
    ([[0.5, "\ud800"], [2**64]], UnicodeEncodeError, None),
    ([[1], [2, Does(lambda: 1 / 0)], [2**63]], ZeroDivisionError, None),
])
def test_failures_in_lists_of_scalars(items, error, message):
    with pytest.raises(error) as info:
        dumps({"l": items})
    assert message is None or str(info.value) == message


def test_lists_of_scalars_are_read_when_written():
    # str() of an earlier item changes a later list of scalars, and the list that holds it.
    later = [1, 2]
    items = []
    items.extend([[Does(lambda: (later.append(3), items.append([4])))], later, [5.5]])
    assert dumps({"l": items}) == "l=[[x]|[1|2|3]|[5.5]];"


def deep(levels, innermost):
    """`levels` nested lists, the innermost being `innermost`."""
    x = innermost
    for _ in range(levels - 1):
        x = [x]
    return x


@pytest.mark.parametrize("innermost, text", [
    ([], "[]"), ([1, 2.5, None, "s"], "[1|2.5|null|s]"), ([1, Int(2)], "[1|2]"),
])
@pytest.mark.parametrize("wrap, above", [
    (lambda x: {"a": x}, ("a=", ";")),
    (lambda x: {"a": [{}, x]}, ("a=[{}|", "];")),  # the list that holds it has a frame when it is met
    (lambda x: {"a": {"b": x}}, ("a={b=", "};")),
])
def test_nesting_bound_of_lists_of_scalars(innermost, text, wrap, above):
    levels = 1000 - (above[0] != "a=")  # the innermost list then sits at nesting level 1000
    assert dumps(wrap(deep(levels, innermost))) == above[0] + "[" * (levels - 1) + text + "]" * (levels - 1) + above[1]
    with pytest.raises(RecursionError, match="^Maximum nesting depth of 1000 exceeded$"):
        dumps(wrap(deep(levels + 1, innermost)))
