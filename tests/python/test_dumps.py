import decimal
import fractions
import math
import sys
import threading

import pytest
from hypothesis import given, strategies as st

import model
from strategies import PROPERTY, configs, dicts
from vardelquin import FormatConfig, dumps, loads

TOO_DEEP = "Maximum nesting depth of 1000 exceeded"
ODD = ("\n", "\t", "<", ">", "a", "(", ")", "\x00", "NIL", "yes", "no")


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


@pytest.mark.parametrize("fields, obj, text", [
    ((), {}, ""),
    ((), {"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30}, "name=mirl;hobbies=[cycling|rowing];age=30;"),
    ((), {"z": True, "a": False, "n": None, "f": 1.0, "i": 1}, "z=true;a=false;n=null;f=1.0;i=1;"),
    ((), {"o": {"b": 1, "a": 2, "B": [None, {}], "": 4, "é": 5, "z": {"y": [], "x": ""}}},
     "o={=4;B=[null|{}];a=2;b=1;z={x=;y=[]};é=5};"),
    ((), {"": "", "l": [[], [[]], "", [""]]}, "=;l=[[]|[[]]||[]];"),
    ((), {"n": -2**63, "m": 2**63 - 1, "z": 0}, "n=-9223372036854775808;m=9223372036854775807;z=0;"),
    ((), {"s": "true", "i": "30", "f": "-1.5"}, "s=true;i=30;f=-1.5;"),
    ((), {"a;b=c\\": "[x|y]{z}"}, "a\\;b\\=c\\\\=\\[x\\|y\\]\\{z\\};"),
    ((), {"c": "\x00\n\t é€\U0001f600\u0301"}, "c=\x00\n\t é€\U0001f600\u0301;"),
    ((), {"t": (1, 2), "s": {3}, "d": decimal.Decimal("1.10"), "q": fractions.Fraction(1, 3), "b": b"x="},
     "t=(1, 2);s=\\{3\\};d=1.10;q=1/3;b=b'x\\=';"),
    ((), {"p": "x" * 15 + ";" + "y" * 8 + "\\" + "y" * 11 + "|}é"},  # 16-byte blocks
     "p=" + "x" * 15 + "\\;" + "y" * 8 + "\\\\" + "y" * 11 + "\\|\\}é;"),
    (("\t",), {"x\ty": [1.5, {"b": 1, "a": "x;y"}]}, "x\\\ty=[1.5|{a=x;y\tb=1}]\t"),
    ((";", "=", "[", "]", "|", "{", "}", "%"), {"k": "a;b[1]%", "b\\": "é;"}, "k=a%;b%[1%]%%;b\\=é%;;"),
    (ODD, {"k\t": [None, True, False, "a<b"], "o": {"y": 1, "x": ")"}},
     "k\x00\t\t<NILayesanoa\x00a\x00<b>\no\t(x\t\x00)\ny\t1)\n"),
])
def test_writes(fields, obj, text):
    cfg = FormatConfig(*fields)
    assert dumps(obj, cfg) == text == model.dumps(obj, cfg)
    if not fields:
        assert dumps(obj) == dumps(obj, None) == dumps(obj=obj, config=None) == text


@pytest.mark.parametrize("size", [1, 15, 16, 17, 31, 32, 33])
def test_short_texts_with_a_delimiter_at_every_place(size):
    """Keys and strings up to 32 bytes are tested and copied as one or two blocks."""
    for at in range(size + 1):
        s = ("k" * at + "é;" + "v" * size)[:size]
        obj = {s: s, "o": {s: [s, "x" * size], "a" * size: s, "é" * size: size}}
        assert dumps(obj) == model.dumps(obj)


@pytest.mark.parametrize("x, text", [
    (3.0, "3.0"), (0.0, "0.0"), (-0.0, "-0.0"), (1e16, "10000000000000000.0"),
    (1e23, "99999999999999991611392.0"), (sys.float_info.max, str(int(sys.float_info.max)) + ".0"),
    (0.5, "0.5"), (-2.25, "-2.25"), (1e-17, "0." + "0" * 16 + "1"), (1e-18, "0." + "0" * 17 + "1"),
    (2.0**64 - 2048, "18446744073709549568.0"), (2.0**64, "18446744073709551616.0"), (0.1 + 0.2, "0.30000000000000004"),
    (2.0**52 - 0.5, "4503599627370495.5"), (5e-324, "0." + "0" * 323 + "5"), (-1.25e-300, "-0." + "0" * 299 + "125"),
    (math.nan, "NaN"), (-math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf"),
])
def test_float_text(x, text):
    assert dumps({"x": x}) == "x=" + text + ";"
    assert model.format_float(x) == text


@pytest.mark.parametrize("obj, exc, message", [
    ({1: "a"}, TypeError, "'int' object cannot be cast as 'str'"),
    ({"k": 1, None: 1}, TypeError, "'NoneType' object cannot be cast as 'str'"),
    ({"o": [{(1,): "x"}]}, TypeError, "'tuple' object cannot be cast as 'str'"),
    ({1.5: 2**64}, TypeError, "'float' object cannot be cast as 'str'"),  # the key before its value
    ({"n": 2**63}, OverflowError, None), ({"n": [-2**63 - 1]}, OverflowError, None),
    ({"s": "\ud800"}, UnicodeEncodeError, None), ({"o": {"\udfff": 1}}, UnicodeEncodeError, None),
    ({"b": [Boom()]}, ZeroDivisionError, "boom"),
])
def test_failures(obj, exc, message):
    with pytest.raises(exc) as info:
        dumps(obj)
    assert type(info.value) is exc and (exc is not ZeroDivisionError or info.value is Boom.error)
    assert message is None or str(info.value) == message


@pytest.mark.parametrize("kinds", ["l", "d", "ld", "ddl"])
def test_nesting_bound(kinds):
    text = dumps({"a": nest(1000, kinds)})
    assert text.count("[") + text.count("{") == 1000
    assert dumps(loads(text)) == text  # compared as text: == would recurse too deep
    with pytest.raises(RecursionError, match=f"^{TOO_DEEP}$"):
        dumps({"a": nest(1001, kinds)})


def test_cycles_are_refused():
    lst, dct = [], {}
    lst.append(lst)
    dct["me"] = [dct]
    for obj in ({"l": lst}, dct):
        with pytest.raises(RecursionError, match=f"^{TOO_DEEP}$"):
            dumps(obj)


def test_million_levels_in_a_thread():
    outcome = []

    def run():
        for fn, exc in ((lambda: dumps({"a": nest(10**6)}), RecursionError),
                        (lambda: dumps({"a": nest(10**6, "d")}), RecursionError),
                        (lambda: loads("a=" + "[" * 10**6), ValueError),
                        (lambda: loads("a=" + "{k=" * 10**6), ValueError)):
            try:
                fn()
            except exc as e:
                outcome.append(str(e))

    t = threading.Thread(target=run)  # default stack size
    t.start()
    t.join()
    assert outcome == [TOO_DEEP] * 2 + [TOO_DEEP + " at pos 1002", TOO_DEEP + " at pos 3002"]


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


class Text(str):
    pass


def test_caller_strings_keep_their_size():
    """No UTF-8 copy stays attached to a large non-ASCII str that dumps
    wrote, wherever it stood; the text is the same as ever."""
    big = "é;" * 50_000
    edge = "ü" * 4096  # the smallest str that is not lent
    key, inner_key, sub = "ключ|" * 2000, "€" * 5000, Text("ñ=" * 3000)
    ascii_big = "a;" * 50_000
    strings = [big, edge, key, inner_key, sub, ascii_big]
    obj = {"v": big, key: [edge, {inner_key: sub}], "a": ascii_big, "l": [[big]]}
    sizes = [sys.getsizeof(s) for s in strings]
    assert dumps(obj) == model.dumps(obj)
    assert [sys.getsizeof(s) for s in strings] == sizes


PIECE = 1 << 16


@pytest.mark.parametrize("length", [PIECE, PIECE + 1, 3 * PIECE + 5])
@pytest.mark.parametrize("make", [str, Text])
def test_large_strings_written_in_pieces(length, make):
    """A large non-ASCII str is written a piece at a time: characters of
    every UTF-8 width and delimiters straddle the pieces' bounds, and the
    text is that of the whole; the str gains no UTF-8 copy."""
    unit = "é;€=\U0001f600|a\\"
    text = make((unit * (length // len(unit) + 1))[:length])
    obj = {"a": {"z": [text], "b": text}, "t": text}
    size = sys.getsizeof(text)
    assert dumps(obj) == model.dumps(obj)
    assert sys.getsizeof(text) == size


@pytest.mark.parametrize("at", [0, PIECE - 1, PIECE, 2 * PIECE + 7, 3 * PIECE - 1])
def test_lone_surrogate_in_a_large_string(at):
    """The failure is the interpreter's own, for the caller's whole str."""
    text = "é" * at + "\udc80" + "x" * (3 * PIECE - at - 1)
    with pytest.raises(UnicodeEncodeError) as info:
        dumps({"a": {"b": [1, text]}})
    with pytest.raises(UnicodeEncodeError) as expected:
        text.encode("utf-8")
    assert info.value.object is text
    assert info.value.args == expected.value.args and str(info.value) == str(expected.value)
