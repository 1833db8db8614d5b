import decimal
import enum
import fractions
import math
import sys
import threading
from collections import OrderedDict, defaultdict

import pytest
from hypothesis import given, strategies as st

import model
from strategies import PROPERTY, configs, dicts
from vardelquin import FormatConfig, dumps, loads


class Color(enum.IntEnum):
    RED = 7


class Money(float):
    pass


class Loud(str):
    __str__ = lambda self: "LOUD"  # noqa: E731


class Twin(str):
    """Distinct keys with equal text."""
    __hash__ = object.__hash__

    def __eq__(self, other):
        return self is other


class Sneaky(dict):  # its own iteration must not be consulted
    __iter__ = items = keys = values = __len__ = __getitem__ = None


class SneakyList(list):
    __iter__ = __len__ = __getitem__ = None


class Boom:
    error = ZeroDivisionError("boom")

    def __str__(self):
        raise self.error


def nest(levels, kinds="l"):
    """`levels` nested containers, the innermost empty; kinds cycles l (list) and d (dict)."""
    x = None
    for i in range(levels):
        if kinds[i % len(kinds)] == "l":
            x = [] if x is None else [x]
        else:
            x = {} if x is None else {"k": x}
    return x


@pytest.mark.parametrize("obj, text", [
    ({}, ""),
    ({"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30}, "name=mirl;hobbies=[cycling|rowing];age=30;"),
    ({"a": True, "b": 1, "c": 1.0, "d": None}, "a=true;b=1;c=1.0;d=null;"),
    ({"z": 1, "a": 2}, "z=1;a=2;"),
    ({"cfg": {"b": 2, "a": [None, True, 1.5, 2.0]}}, "cfg={a=[null|true|1.5|2.0];b=2};"),
    ({"e": [], "o": {}, "s": ""}, "e=[];o={};s=;"),
    ({"o": {"b": 1, "a": 2, "B": 3, "": 4, "é": 5, "z": 6}}, "o={=4;B=3;a=2;b=1;z=6;é=5};"),
    ({"": ""}, "=;"),
    ({"n": -2**63, "m": 2**63 - 1, "z": 0, "neg": -5}, "n=-9223372036854775808;m=9223372036854775807;z=0;neg=-5;"),
    ({"s": "true", "i": "30", "f": "1.5"}, "s=true;i=30;f=1.5;"),
    ({"k": "\\"}, "k=\\\\;"),
    ({"a;b=c": "[x|y]{z}"}, "a\\;b\\=c=\\[x\\|y\\]\\{z\\};"),
    ({"c": "\x00\n\t é€\U0001f600\u0301"}, "c=\x00\n\t é€\U0001f600\u0301;"),
    ({"t": (1, 2)}, "t=(1, 2);"),
    ({"s": {3}}, "s=\\{3\\};"),
    ({"d": decimal.Decimal("1.10"), "q": fractions.Fraction(1, 3), "b": b"x="}, "d=1.10;q=1/3;b=b'x\\=';"),
    ({"e": Color.RED, "m": Money(2.5), "l": Loud("x;")}, "e=7;m=2.5;l=x\\;;"),
    ({Loud("k"): 1}, "k=1;"),
    ({Twin("a"): 1, Twin("a"): 2, "o": {Twin("b"): 1, Twin("b"): 2}}, "a=1;a=2;o={b=2};"),
    ({"d": Sneaky({"b": 1, "a": [2]}), "l": SneakyList([1, 2])}, "d={a=[2];b=1};l=[1|2];"),
    (OrderedDict([("b", 1), ("a", 2)]), "b=1;a=2;"),
    ({"o": OrderedDict([("b", 1), ("a", 2)]), "d": defaultdict(int, {"y": [], "x": {}})}, "o={a=2;b=1};d={x={};y=[]};"),
    ({"l": [[], [[]], {}, [{}], ""]}, "l=[[]|[[]]|{}|[{}]|];"),
])
def test_writes(obj, text):
    assert dumps(obj) == text == model.dumps(obj)
    assert dumps(obj, None) == text
    assert dumps(obj, config=FormatConfig()) == text


@pytest.mark.parametrize("x, text", [
    (3.0, "3.0"), (0.0, "0.0"), (-0.0, "-0.0"), (30.0, "30.0"), (-7.0, "-7.0"),
    (1e16, "10000000000000000.0"), (1e23, "99999999999999991611392.0"),
    (1e300, str(int(1e300)) + ".0"), (sys.float_info.max, str(int(sys.float_info.max)) + ".0"),
    (0.5, "0.5"), (-2.25, "-2.25"), (1.5, "1.5"), (1e-5, "0.00001"), (1e-7, "0.0000001"),
    (0.1 + 0.2, "0.30000000000000004"), (2.0**52 - 0.5, "4503599627370495.5"),
    (5e-324, "0." + "0" * 323 + "5"), (-1.25e-300, "-0." + "0" * 299 + "125"),
    (math.nan, "NaN"), (-math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf"),
])
def test_float_text(x, text):
    assert dumps({"x": x}) == "x=" + text + ";"
    assert model.format_float(x) == text


def test_configured_delimiters_and_keywords():
    cfg = FormatConfig()
    cfg.escape = "%"
    assert dumps({"k": "a;b[1]"}, cfg) == "k=a%;b%[1%];"
    assert dumps({"x=y": "50%"}, cfg) == "x%=y=50%%;"
    assert dumps({"k": "é;", "b": "\\"}, cfg) == "k=é%;;b=\\;"
    assert loads("k=a%;b;", cfg) == {"k": "a;b"}
    assert dumps({"x": 1}, FormatConfig(field_sep=",", kv_sep=":")) == "x:1,"
    odd = FormatConfig("\n", "\t", "<", ">", "a", "(", ")", "\x00", "NIL", "yes", "no")
    assert dumps({"k\t": [None, True, False, "a<b"], "o": {"y": 1, "x": ")"}}, odd) == \
        "k\x00\t\t<NILayesanoa\x00a\x00<b>\no\t(x\t\x00)\ny\t1)\n"


@pytest.mark.parametrize("args, kwargs, exc, message", [
    (([1, 2],), {}, TypeError, "argument 'obj': 'list' object cannot be cast as 'dict'"),
    (({},), {"config": {}}, TypeError, "argument 'config': 'dict' object cannot be cast as 'FormatConfig'"),
    (([],), {"config": {}}, TypeError, "argument 'obj': 'list' object cannot be cast as 'dict'"),
    (({1: "a"},), {}, TypeError, "'int' object cannot be cast as 'str'"),
    (({None: 1},), {}, TypeError, "'NoneType' object cannot be cast as 'str'"),
    (({"o": {1: "x"}},), {}, TypeError, "'int' object cannot be cast as 'str'"),
    (({"o": [{(1,): "x"}]},), {}, TypeError, "'tuple' object cannot be cast as 'str'"),
    (({1.5: 2**64},), {}, TypeError, "'float' object cannot be cast as 'str'"),
    (({"n": 2**63},), {}, OverflowError, None),
    (({"n": [-2**63 - 1]},), {}, OverflowError, None),
    (({"s": "\ud800"},), {}, UnicodeEncodeError, None),
    (({"\udfff": 1},), {}, UnicodeEncodeError, None),
    (({"b": Boom()},), {}, ZeroDivisionError, "boom"),
])
def test_failures(args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        dumps(*args, **kwargs)
    assert type(info.value) is exc
    assert exc is not ZeroDivisionError or info.value is Boom.error
    if message is not None:
        assert str(info.value) == message


@pytest.mark.parametrize("kinds", ["l", "d", "ld", "ddl"])
def test_nesting_bound(kinds):
    text = dumps({"a": nest(1000, kinds)})
    assert dumps(loads(text)) == text  # compared as text: == would recurse too deep
    for levels in (1001, 5000):
        with pytest.raises(RecursionError, match="^Maximum nesting depth of 1000 exceeded$"):
            dumps({"a": nest(levels, kinds)})
    assert dumps({"a": nest(1000)}) == "a=" + "[" * 1000 + "]" * 1000 + ";"


def test_cycles_are_refused():
    lst, dct = [], {}
    lst.append(lst)
    dct["me"] = [dct]
    for obj in ({"l": lst}, {"d": dct}, dct):
        with pytest.raises(RecursionError, match="^Maximum nesting depth of 1000 exceeded$"):
            dumps(obj)


def test_million_levels_in_a_thread():
    deep, outcome = nest(1_000_000), []

    def run():
        for fn, exc in ((lambda: dumps({"a": deep}), RecursionError), (lambda: loads("a=" + "[" * 1_000_000), ValueError)):
            try:
                fn()
            except exc as e:
                outcome.append(str(e))

    t = threading.Thread(target=run)  # default stack size
    t.start()
    t.join()
    assert outcome == ["Maximum nesting depth of 1000 exceeded", "Maximum nesting depth of 1000 exceeded at pos 1002"]


def internal_failure(fn):
    with pytest.raises(BaseException) as info:
        fn()
    assert type(info.value).__name__ == "InternalFailure"
    assert not isinstance(info.value, Exception)
    return info.value.args


@pytest.mark.parametrize("mutate, message", [
    (lambda d: d.pop("b"), "dictionary changed size during iteration"),
    (lambda d: d.update(c=3), "dictionary changed size during iteration"),
    (lambda d: (d.pop("a"), d.update(c=3)), "dictionary keys changed during iteration"),
])
@pytest.mark.parametrize("nested", [False, True])
def test_dict_mutated_by_str(mutate, message, nested):
    target = {}

    class Mutator:
        def __str__(self):
            mutate(target)
            return "m"

    target.update(a=Mutator(), b=1)
    assert internal_failure(lambda: dumps({"x": target} if nested else target)) == (message,)


@pytest.mark.parametrize("change, text", [(lambda lst: lst.append("c"), "l=[m|b];"),
                                          (lambda lst: lst.pop(), "l=[m];"),
                                          (lambda lst: (lst.pop(), lst.append("c"), lst.append("d")), "l=[m|c];")])
def test_list_mutated_by_str(change, text):
    lst = []

    class Mutator:
        def __str__(self):
            change(lst)
            return "m"
    lst += [Mutator(), "b"]
    assert dumps({"l": lst}) == text


@pytest.mark.parametrize("as_dict", [False, True])
def test_strings_outlive_their_objects(as_dict):
    """Text already read stays intact when __str__ drops its only owner, and
    str() results stay intact while later ones are made."""
    class Replace:
        def __init__(self, i):
            self.i = i

        def __str__(self):
            container[("k%d" % (self.i - 1)) if as_dict else self.i - 1] = None
            junk = ["".join(["#", str(n)] * 20) for n in range(200)]
            return "".join(["fresh", str(self.i)] * 30) + junk[-1][:0]
    items = [None] * 40
    for i in range(0, 40, 2):
        items[i], items[i + 1] = "".join(["text", str(i)] * 30), Replace(i + 1)
    plain = [x if isinstance(x, str) else "fresh%d" % x.i * 30 for x in items]
    container = {"k%d" % i: v for i, v in enumerate(items)} if as_dict else items
    del items
    expected = {"k%d" % i: v for i, v in enumerate(plain)} if as_dict else plain
    assert dumps({"c": container}) == model.dumps({"c": expected})


def test_config_set_during_dumps_is_refused():
    cfg = FormatConfig()
    seen = []

    class Setter:
        def __str__(self):
            seen.append(cfg.field_sep)  # reading still works
            cfg.field_sep = ","
            return "never"
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        dumps({"k": Setter()}, cfg)
    assert seen == [";"] and cfg.field_sep == ";"
    cfg.field_sep = ","  # the hold was released
    assert dumps({"k": 1}, cfg) == "k=1,"


@PROPERTY
@given(st.data())
def test_differential(data):
    cfg = data.draw(configs)
    obj = data.draw(dicts(cfg, extras=True))
    try:
        expected = model.dumps(obj, cfg)
    except (OverflowError, TypeError) as e:
        with pytest.raises(type(e)):
            dumps(obj, FormatConfig(*cfg))
    else:
        assert dumps(obj, FormatConfig(*cfg)) == expected
