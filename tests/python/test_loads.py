import math
import re
import struct

import pytest
from hypothesis import given, strategies as st

import model
from model import shape
from strategies import PROPERTY, configs, dicts, structured_texts, texts
from vardelquin import FormatConfig, dumps, loads

NEG_NAN = struct.unpack("<d", struct.pack("<Q", 0xFFF8000000000000))[0]


@pytest.mark.parametrize("text, expected", [
    ("", {}), (";;;", {}),
    ("a=1;b=2", {"a": 1, "b": 2}), (";;a=1;;;b=2;;", {"a": 1, "b": 2}),
    # an empty top-level key is a key like any other
    ("=1;b=2;", {"": 1, "b": 2}), ("a=1;=2;b=3;", {"a": 1, "": 2, "b": 3}),
    ("a=1=2;b=3;", {"a": 1, "": 2, "b": 3}), ("=", {"": ""}), ("a=b=c", {"a": "b", "": "c"}),
    ("x;y=1;", {"x;y": 1}), (" a = 1 ;", {" a ": " 1 "}), ("a=", {"a": ""}), ("a=x\\", {"a": "x"}),
    ("k\\=y=1;", {"k=y": 1}), ("a=\\[1\\];", {"a": "[1]"}), ("a=x[1;", {"a": "x[1"}),
    ("a=x{1;", {"a": "x{1"}), ("a=\\{b\\};", {"a": "{b}"}),
    ("a=[1|2]b=3;", {"a": [1, 2], "b": 3}), ("a=1]x=2;", {"a": 1, "]x": 2}), ("a=[1]]=2", {"a": [1], "]": 2}),
    ("a=[]", {"a": []}), ("a=[|]", {"a": ["", ""]}), ("a=[x|]", {"a": ["x", ""]}),
    ("a=[[]|{}]", {"a": [[], {}]}), ("a={=1}", {"a": {"": 1}}), ("a={x=1;x=2}", {"a": {"x": 2}}),
    ("a={;x=1}", {"a": {";x": 1}}), ("a={b=[1|{c=}]}", {"a": {"b": [1, {"c": ""}]}}),
    ("k=\\é\\\\;\\n=\\t", {"k": "é\\", "n": "t"}), ("k=a\\|b", {"k": "a|b"}),
    ("name=mirl;hobbies=[cycling|rowing];age=30;", {"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30}),
    ("a=1;b=2;a=3;", {"a": 3, "b": 2}), ("x={b=1;a=2;B=3;=0;é=4}", {"x": {"": 0, "B": 3, "a": 2, "b": 1, "é": 4}}),
    ("x=[3|1|2]", {"x": [3, 1, 2]}), ("n=null;t=true;f=false", {"n": None, "t": True, "f": False}),
    ("z=-0.0;q=-nan;i=-inf", {"z": -0.0, "q": NEG_NAN, "i": -math.inf}),
    ("m=-9223372036854775808", {"m": -2**63}), ("e=;l=[];o={}", {"e": "", "l": [], "o": {}}),
    ("c=\x00\n\t\U0001f600", {"c": "\x00\n\t\U0001f600"}),
])
def test_reads(text, expected):
    assert shape(loads(text)) == shape(expected) == shape(model.loads(text))
    assert shape(loads(text, None)) == shape(loads(text, config=FormatConfig()))


@pytest.mark.parametrize("text, message", [
    ("a", "Expected '=' but got EOF"), ("a={x", "Expected '=' but got EOF"), ("a={", "Expected '=' but got EOF"),
    ("a=1;\\", "Expected '=' but got EOF"), ("a=1}", "Expected '=' but got EOF"), ("a=[1]x", "Expected '=' but got EOF"),
    ("a=[1|2", "Unterminated list"), ("a=[", "Unterminated list"), ("a=[[]", "Unterminated list"),
    ("a={x=1", "Unterminated object"), ("a={x=", "Unterminated object"), ("a={x={}", "Unterminated object"),
    ("a={b}", "Expected '=' but got '}' at pos 4"), ("a={x=1;}", "Expected '=' but got '}' at pos 7"),
    ("é={x}", "Expected '=' but got '}' at pos 5"),
    ("a=[1}2]", "Unexpected '}' in list at pos 4"), ("a={x=1]", "Unexpected ']' in object at pos 6"),
    ("a=[{}x]", "Unexpected 'x' in list at pos 5"), ("a={k=[1]x}", "Unexpected 'x' in object at pos 8"),
    ("a=[[1]é]", "Unexpected 'Ã' in list at pos 6"), ("a=[[1]€]", "Unexpected 'â' in list at pos 6"),
    ("é=[[1]\U0001f600]", "Unexpected 'ð' in list at pos 7"),
    ("a=[[1]\n]", "Unexpected '\\n' in list at pos 6"), ("a=[[1]\t]", "Unexpected '\\t' in list at pos 6"),
    ("a=[[1]\r]", "Unexpected '\\r' in list at pos 6"), ("a=[[1]\x00]", "Unexpected '\\0' in list at pos 6"),
    ("a=[[1]']", "Unexpected '\\'' in list at pos 6"), ("a=[[1]\\]", "Unexpected '\\\\' in list at pos 6"),
    ('a=[[1]"]', "Unexpected '\"' in list at pos 6"), ("a=[[1]\x7f]", "Unexpected '\\u{7f}' in list at pos 6"),
    ("a=[[1]\x1b]", "Unexpected '\\u{1b}' in list at pos 6"), ("a=[[1] ]", "Unexpected ' ' in list at pos 6"),
    ("a={k={}\x01}", "Unexpected '\\u{1}' in object at pos 7"),
])
def test_read_errors(text, message):
    with pytest.raises(ValueError) as info:
        loads(text)
    assert type(info.value) is ValueError and str(info.value) == message
    with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
        model.loads(text)


@pytest.mark.parametrize("fields, text, expected", [
    ({"escape": "%"}, "k=a%;b;", {"k": "a;b"}),
    ({"escape": "%"}, "k=a\\;b=%%", {"k": "a\\", "b": "%"}),
    ({"null_str": "0"}, "x=0;y=00;z=[0]", {"x": None, "y": 0, "z": [None]}),
    ({"true_str": "1.5", "false_str": "-"}, "t=1.5;f=-;g=+", {"t": True, "f": False, "g": "+"}),
    ({"list_sep": "1"}, "a=[213|4]", {"a": [2, "3|4"]}),
    ({"field_sep": "\n", "kv_sep": "\t"}, "a\t1\n\nb\t[x|y]\n", {"a": 1, "b": ["x", "y"]}),
    ({"field_sep": "E", "kv_sep": "x"}, "ax1E5Ebx2\\E5", {"a": 1, "5Eb": 2e5}),
])
def test_reads_with_config(fields, text, expected):
    cfg = FormatConfig(**fields)
    assert shape(loads(text, cfg)) == shape(expected) == shape(model.loads(text, cfg))


@pytest.mark.parametrize("fields, text, message", [
    ({"kv_sep": ":"}, "a", "Expected ':' but got EOF"),
    ({"kv_sep": "'"}, "a", "Expected '\\'' but got EOF"),
    ({"kv_sep": "\\", "escape": "%"}, "a", "Expected '\\\\' but got EOF"),
    ({"kv_sep": "\x00"}, "a\x00{b}", "Expected '\\0' but got '}' at pos 4"),
    ({"list_close": ")"}, "a=[1]", "Unterminated list"),
])
def test_read_errors_with_config(fields, text, message):
    with pytest.raises(ValueError) as info:
        loads(text, FormatConfig(**fields))
    assert str(info.value) == message
    with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
        model.loads(text, FormatConfig(**fields))


@pytest.mark.parametrize("args, kwargs, exc, message", [
    ((b"a=1;",), {}, TypeError, "argument 's': 'bytes' object cannot be cast as 'str'"),
    ((bytearray(b"a"),), {}, TypeError, "argument 's': 'bytearray' object cannot be cast as 'str'"),
    (("a=1;",), {"config": 1}, TypeError, "argument 'config': 'int' object cannot be cast as 'FormatConfig'"),
    ((1,), {"config": 1}, TypeError, "argument 's': 'int' object cannot be cast as 'str'"),
    (("a\ud800",), {}, UnicodeEncodeError, None),
    (("a={b}",), {"config": None}, ValueError, "Expected '=' but got '}' at pos 4"),
])
def test_argument_failures(args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        loads(*args, **kwargs)
    assert type(info.value) is exc
    assert message is None or str(info.value) == message


def test_fresh_objects_and_singletons():
    first, second = loads(""), loads("", None)
    assert first == {} and first is not second
    a, b = loads("e=;l=[];o={};n=null;t=true;f=false"), loads("e=;l=[];o={};n=null;t=true;f=false")
    assert a["l"] is not b["l"] and a["o"] is not b["o"]
    assert a["n"] is None and a["t"] is True and a["f"] is False
    assert loads(type("S", (str,), {})("a=1")) == {"a": 1}


@pytest.mark.parametrize("token, value", [
    ("null", None), ("true", True), ("false", False),
    ("Null", "Null"), ("TRUE", "TRUE"), ("no", "no"), (" true", " true"), ("true ", "true "),
    ("42", 42), ("+42", 42), ("007", 7), ("-0", 0), ("tr\\ue", True), ("\\1\\2", 12),
    ("9223372036854775807", 2**63 - 1), ("-9223372036854775808", -2**63),
    ("9223372036854775808", 9223372036854775808.0), ("-9223372036854775809", -9223372036854775808.0),
    ("3.0", 3.0), ("3.", 3.0), (".5", 0.5), ("-.5", -0.5), ("1e3", 1000.0), ("1E3", 1000.0),
    ("1e+3", 1000.0), ("00.5", 0.5), ("-0.0", -0.0), ("1e0", 1.0), ("2.5E-0003", 0.0025),
    ("inf", math.inf), ("+Infinity", math.inf), ("-inf", -math.inf), ("NaN", math.nan), ("nAn", math.nan),
    ("-nan", NEG_NAN), ("1e400", math.inf), ("1e-400", 0.0), ("-1e-400", -0.0),
    ("9007199254740993.0", 9007199254740992.0), ("9007199254740993.000000000000000000001", 9007199254740994.0),
    ("2.4703282292062327e-324", 0.0), ("2.4703282292062328e-324", 5e-324),
    ("0." + "0" * 400 + "1e401", 1.0), ("1" * 400 + "e-400", float("1" * 400 + "e-400")),
    ("", ""), ("+", "+"), ("-", "-"), (".", "."), ("e5", "e5"), ("1e", "1e"), ("1e+", "1e+"),
    ("1_000", "1_000"), ("0x10", "0x10"), (" 5", " 5"), ("5 ", "5 "), ("1,5", "1,5"), ("infin", "infin"),
    ("in", "in"), ("infinityy", "infinityy"), ("nanx", "nanx"), ("--1", "--1"), ("+-1", "+-1"),
    ("1.2.3", "1.2.3"), ("1e5.0", "1e5.0"), ("٣", "٣"), ("１", "１"), ("0x1p3", "0x1p3"), ("1\x00", "1\x00"),
    ("5\u00a0", "5\u00a0"), ("+.e1", "+.e1"),
])
def test_scalar_typing(token, value):
    assert shape(loads("x=" + token)["x"]) == shape(value)
    assert shape(model.decode_scalar(token.replace("\\", ""), model.DEFAULTS)) == shape(value)


def test_huge_number_tokens():
    for token, value in [("0." + "0" * 1_000_000 + "15e1000001", 1.5), ("1" + "0" * 1_000_001 + "e-1000001", 1.0),
                         ("1e-99999999999999999999999", 0.0), ("-1e+99999999999999999999999", -math.inf)]:
        assert shape(loads("x=" + token)["x"]) == shape(value) == shape(float(token))


@pytest.mark.parametrize("opener, closer, levels", [("[", "]", 1), ("{k=", "}", 1), ("[{k=", "}]", 2)])
def test_nesting_bound(opener, closer, levels):
    ok = "a=" + opener * (1000 // levels) + closer * (1000 // levels)
    assert dumps(loads(ok)) == ok + ";"
    units = 1000 // levels + 1
    deep = "a=" + opener * units + closer * units
    pos = [i for i, c in enumerate(deep) if c in "[{"][1000]
    with pytest.raises(ValueError) as info:
        loads(deep)
    assert str(info.value) == f"Maximum nesting depth of 1000 exceeded at pos {pos}"
    with pytest.raises(ValueError, match="^Maximum nesting depth of 1000 exceeded at pos 1002$"):
        loads("a=" + "[" * 1_000_000)
    with pytest.raises(ValueError, match="^Maximum nesting depth of 1000 exceeded at pos 1003$"):
        loads("é=" + "[" * 1001 + "]" * 1001)


@st.composite
def float_tokens(draw):
    sign = draw(st.sampled_from(["", "+", "-"]))
    if draw(st.integers(0, 7)) == 0:
        word = draw(st.sampled_from(["inf", "infinity", "nan"]))
        flips = draw(st.lists(st.booleans(), min_size=len(word), max_size=len(word)))
        return sign + "".join(c.upper() if f else c for c, f in zip(word, flips))
    digits = st.one_of(st.text("0123456789", max_size=25), st.text("0123456789", min_size=300, max_size=800),
                       st.sampled_from(["9007199254740993", "24703282292062327", "17976931348623157"]))
    whole, frac = draw(digits), draw(digits)
    point = draw(st.booleans()) or not (whole or frac)
    if not (whole + frac):
        whole = "0"
    exp = draw(st.one_of(st.just(""), st.tuples(st.sampled_from("eE"), st.sampled_from(["", "+", "-"]),
                                                 st.text("0123456789", min_size=1, max_size=22)).map("".join)))
    return sign + whole + ("." if point else "") + frac + exp


@PROPERTY
@given(float_tokens())
def test_float_grammar_reads_like_float(token):
    expected = model.decode_scalar(token, model.DEFAULTS)  # float(token) unless a 64-bit integer
    assert shape(loads("x=" + token)["x"]) == shape(expected)


def outcome(fn):
    try:
        return shape(fn())
    except ValueError as e:
        return ("ValueError", str(e))


def mutate(text, edits, cfg):
    chars = list(text)
    for where, op, ch in edits:
        i = where % (len(chars) + 1)
        ch = (cfg[:8] + (ch,))[ord(ch) % 9]
        if op == 0 or i == len(chars):
            chars.insert(i, ch)
        elif op == 1:
            del chars[i]
        else:
            chars[i] = ch
    return "".join(chars)


@PROPERTY
@given(st.data())
def test_differential_random_text(data):
    cfg = data.draw(configs)
    text = data.draw(st.one_of(texts(cfg, max_size=40), structured_texts(cfg)))
    assert outcome(lambda: loads(text, FormatConfig(*cfg))) == outcome(lambda: model.loads(text, cfg))


@PROPERTY
@given(st.data())
def test_differential_mutated_text(data):
    cfg = data.draw(configs)
    text = model.dumps(data.draw(dicts(cfg)), cfg)
    edits = data.draw(st.lists(st.tuples(st.integers(0, 10**6), st.integers(0, 2),
                                         st.characters(blacklist_categories=("Cs",))), max_size=4))
    text = mutate(text, edits, cfg)
    assert outcome(lambda: loads(text, FormatConfig(*cfg))) == outcome(lambda: model.loads(text, cfg))
