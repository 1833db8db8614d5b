import math
import struct
import sys

import pytest
from hypothesis import given, strategies as st

import model
from model import shape
from strategies import PROPERTY, configs, dicts, structured_texts, texts
from vardelquin import FormatConfig, dumps, loads

EOF = "Expected '=' but got EOF"
NEG_NAN = struct.unpack("<d", struct.pack("<Q", 0xFFF8000000000000))[0]


def outcome(fn):
    try:
        return shape(fn())
    except ValueError as e:
        return (type(e).__name__, str(e), e.pos)


@pytest.mark.parametrize("fields, text, expected", [
    ({}, "", {}), ({}, ";;a=1;;;b=2", {"a": 1, "b": 2}), ({}, "=1;b=2;", {"": 1, "b": 2}),
    ({}, "a=1=2;b=3;", {"a": 1, "": 2, "b": 3}), ({}, "a=b=c", {"a": "b", "": "c"}), ({}, "x;y=1;", {"x;y": 1}),
    ({}, " a = 1 ;", {" a ": " 1 "}), ({}, "a=x\\", {"a": "x"}), ({}, "k\\=y=\\[1\\];", {"k=y": "[1]"}),
    ({}, "a=x[1;b=x{", {"a": "x[1", "b": "x{"}), ({}, "a=[1|2]b=3;", {"a": [1, 2], "b": 3}),
    ({}, "a=1]x=2;", {"a": 1, "]x": 2}), ({}, "a=[]", {"a": []}), ({}, "a=[|x]", {"a": ["", "x"]}),
    ({}, "a=[[]|{}]", {"a": [[], {}]}), ({}, "a={=1}", {"a": {"": 1}}), ({}, "a={;x=1}", {"a": {";x": 1}}),
    ({}, "a={x=1;x=2}", {"a": {"x": 2}}), ({}, "a=1;b=2;a=3;", {"a": 3, "b": 2}),
    ({}, "x={b=1;a=2;B=3;=0;é=4}", {"x": {"": 0, "B": 3, "a": 2, "b": 1, "é": 4}}),
    ({}, "k=\\é\\\\;\\n=\\t\\|", {"k": "é\\", "n": "t|"}), ({}, "a={b=[1|{c=}]}", {"a": {"b": [1, {"c": ""}]}}),
    ({}, "z=-0.0;q=-nan;n=null", {"z": -0.0, "q": NEG_NAN, "n": None}), ({}, "c=\x00\n\t€", {"c": "\x00\n\t€"}),
    ({"escape": "%"}, "k=a%;b\\;b=%%", {"k": "a;b\\", "b": "%"}),
    ({"null_str": "0"}, "x=0;y=00;z=[0]", {"x": None, "y": 0, "z": [None]}),
    ({"true_str": "1.5", "false_str": "-"}, "t=1.5;f=-;g=+", {"t": True, "f": False, "g": "+"}),
    ({"list_sep": "1"}, "a=[213|4]", {"a": [2, "3|4"]}),
    ({"field_sep": "\n", "kv_sep": "\t"}, "a\t1\n\nb\t[x|y]\n", {"a": 1, "b": ["x", "y"]}),
    ({"field_sep": "E", "kv_sep": "x"}, "ax1E5Ebx2\\E5", {"a": 1, "5Eb": 2e5}),
    ({}, "a", EOF), ({}, "a={x", EOF), ({}, "a=1}", EOF), ({}, "a=[1]x", EOF), ({}, "a=1;\\", EOF),
    ({}, "a=[1|2", "Unterminated list"), ({}, "a=[", "Unterminated list"), ({}, "a=[[]", "Unterminated list"),
    ({}, "a={x=1", "Unterminated object"), ({}, "a={x=", "Unterminated object"), ({}, "a={x={}", "Unterminated object"),
    ({}, "a={b}", "Expected '=' but got '}' at pos 4"), ({}, "a={x=1;}", "Expected '=' but got '}' at pos 7"),
    ({}, "é={x}", "Expected '=' but got '}' at pos 5"), ({}, "a=[1}2]", "Unexpected '}' in list at pos 4"),
    ({}, "a={x=1]", "Unexpected ']' in object at pos 6"), ({}, "a={k=[1]x}", "Unexpected 'x' in object at pos 8"),
    ({}, "a=[[1]é]", "Unexpected 'Ã' in list at pos 6"), ({}, "é=[{}😀]", "Unexpected 'ð' in list at pos 6"),
    ({}, "a=[[1]\n]", "Unexpected '\\n' in list at pos 6"), ({}, "a=[[1]\x00]", "Unexpected '\\0' in list at pos 6"),
    ({}, "a=[[1]']", "Unexpected '\\'' in list at pos 6"), ({}, "a=[[1]\\]", "Unexpected '\\\\' in list at pos 6"),
    ({}, 'a=[[1]"]', "Unexpected '\"' in list at pos 6"), ({}, "a=[[1]\x7f]", "Unexpected '\\u{7f}' in list at pos 6"),
    ({}, "a=[[1] ]", "Unexpected ' ' in list at pos 6"), ({}, "a={k={}\x01}", "Unexpected '\\u{1}' in object at pos 7"),
    ({"kv_sep": "'"}, "a", "Expected '\\'' but got EOF"), ({"list_close": ")"}, "a=[1]", "Unterminated list"),
    ({"kv_sep": "\x00"}, "a\x00{b}", "Expected '\\0' but got '}' at pos 4"),
])
def test_reads(fields, text, expected):
    cfg = FormatConfig(**fields)
    got = outcome(lambda: loads(text, cfg))
    # A failure's pos comes from the model, the table gives its message.
    want = ("ValueError", expected, got[-1]) if isinstance(expected, str) else shape(expected)
    assert got == want == outcome(lambda: model.loads(text, cfg))
    if not fields:
        assert outcome(lambda: loads(text)) == want == outcome(lambda: loads(s=text, config=None))


# Objects of more than a few dozen members, whose order is settled apart
# from small ones': in order already, with repeats of a key side by side
# or far apart, and one member out of place at either end.
@pytest.mark.parametrize("keys", [
    [f"k{i:03d}" for i in range(60)],
    [f"k{i // 2:03d}" for i in range(80)],
    [f"k{i % 40:03d}" for i in range(80)],
    [f"k{i:03d}" for i in range(1, 60)] + ["k000"],
    ["k999"] + [f"k{i:03d}" for i in range(60)],
    [f"k{i:03d}" for i in range(59, -1, -1)],
    [f"k{i:03d}" for i in range(40)] + ["k"] + [f"k{i:03d}" for i in range(40, 60)],
    # more keys than the key cache holds, each twice: every lookup may push one out
    [str(i * 7919) for i in range(600)] * 2,
])
def test_large_objects_sorted_with_last_value(keys):
    text = "o={" + ";".join(f"{k}={i}" for i, k in enumerate(keys)) + "}"
    last = {k: i for i, k in enumerate(keys)}
    got = loads(text)["o"]
    assert list(got.items()) == sorted(last.items())
    assert shape(got) == shape(model.loads(text)["o"])


# Keys that agree in their first eight bytes, or of which one begins
# another, around the eight-byte words that order most keys: small objects
# (sorted one member at a time) and large ones, both ways round.
_EIGHT = ["abcdefgh", "abcdefg", "abcdefgh\x00", "abcdefgha", "abcdefg\x00", "abcdefg\x00\x01", "ab", "ba",
          "a", "", "\x00", "é", "zzzzzzzzzz", "abcdefghabcdefgh", "abcdefghabcdefgg", "ab\x00", "abcdefgi"]


@pytest.mark.parametrize("keys", [_EIGHT, _EIGHT[::-1], _EIGHT * 3, [*_EIGHT, *_EIGHT[::-1]][::-1]])
def test_keys_ordered_by_their_bytes(keys):
    text = "o={" + ";".join(f"{dumps({k: i})[:-1]}" for i, k in enumerate(keys)) + "}"
    got = loads(text)["o"]
    assert list(got.items()) == sorted({k: i for i, k in enumerate(keys)}.items())


@pytest.mark.parametrize("text, pos", [
    ("a", 1), ("é", 2), ("a={x", 4), ("a=[1|2", 6), ("a={x=1", 6), ("a={b}", 4), ("é={x}", 5),
    ("a=[[1]é]", 6), ("a={x=1]", 6), ("é=" + "[" * 1001, 1003),
])
def test_failure_carries_its_byte_offset(text, pos):
    with pytest.raises(ValueError) as info:
        loads(text)
    error = info.value
    assert type(error) is ValueError and error.args == (str(error),)
    assert type(error.pos) is int and error.pos == pos
    assert str(error).endswith(f" at pos {pos}") or pos == len(text.encode())


def test_fresh_objects_and_singletons():
    a, b = loads("e=;l=[];o={};n=null;t=true;f=false"), loads("e=;l=[];o={};n=null;t=true;f=false")
    assert a["l"] is not b["l"] and a["o"] is not b["o"] and loads("") is not loads("")
    assert a["n"] is None and a["t"] is True and a["f"] is False
    assert loads(type("S", (str,), {})("a=1")) == {"a": 1}


@pytest.mark.parametrize("token, value", [
    ("null", None), ("true", True), ("false", False), ("Null", "Null"), (" true", " true"), ("true ", "true "),
    ("tr\\ue", True), ("\\1\\2", 12), ("+42", 42), ("007", 7), ("-0", 0),
    ("9223372036854775807", 2**63 - 1), ("-9223372036854775808", -2**63), ("000000000000000000009", 9),
    ("9223372036854775808", 9223372036854775808.0), ("-9223372036854775809", -9223372036854775808.0),
    ("3.", 3.0), (".5", 0.5), ("-.5", -0.5), ("1E3", 1000.0), ("1e+3", 1000.0), ("2.5E-0003", 0.0025),
    ("inf", math.inf), ("+Infinity", math.inf), ("-inf", -math.inf), ("nAn", math.nan), ("-nan", NEG_NAN),
    ("1e400", math.inf), ("1e-400", 0.0), ("-1e-400", -0.0), ("9007199254740993.0000000000000001", 9007199254740994.0),
    ("9007199254740993.0", 9007199254740992.0),
    ("2.4703282292062327e-324", 0.0), ("2.4703282292062328e-324", 5e-324), ("0." + "0" * 400 + "1e401", 1.0),
    ("", ""), ("+", "+"), ("-", "-"), (".", "."), ("e5", "e5"), ("1e", "1e"), ("1e+", "1e+"), ("1_000", "1_000"),
    ("0x10", "0x10"), (" 5", " 5"), ("infin", "infin"), ("infinityy", "infinityy"), ("nanx", "nanx"), ("--1", "--1"),
    ("1.2.3", "1.2.3"), ("12.40.99", "12.40.99"), ("3.10.2-rc1", "3.10.2-rc1"), ("2021.03.04", "2021.03.04"),
    ("1.2.", "1.2."), ("-1.2.3", "-1.2.3"), (".1.2", ".1.2"), ("12.45", 12.45), ("1.234", 1.234), ("+1.23", 1.23),
    ("12.3e5", 1230000.0), ("1.2e.3", "1.2e.3"), ("1e5.0", "1e5.0"),
    ("٣", "٣"), ("1\x00", "1\x00"), ("5\u00a0", "5\u00a0"), ("+.e1", "+.e1"),
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
    deep = "a=" + opener * (1000 // levels + 1) + closer * (1000 // levels + 1)
    pos = [i for i, c in enumerate(deep) if c in "[{"][1000]
    with pytest.raises(ValueError, match=f"^Maximum nesting depth of 1000 exceeded at pos {pos}$"):
        loads(deep)
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
    exp = draw(st.one_of(st.just(""), st.tuples(st.sampled_from("eE"), st.sampled_from(["", "+", "-"]),
                                                 st.text("0123456789", min_size=1, max_size=22)).map("".join)))
    return sign + (whole or ("" if frac else "0")) + ("." if point else "") + frac + exp


@PROPERTY
@given(float_tokens())
def test_float_grammar_reads_like_float(token):
    expected = model.decode_scalar(token, model.DEFAULTS)  # float(token) unless a 64-bit integer
    assert shape(loads("x=" + token)["x"]) == shape(expected)


def mutate(text, edits, cfg):
    chars = list(text)
    for where, op, ch in edits:
        pool = model.delimiters(cfg) + (ch,)
        i, ch = where % (len(chars) + 1), pool[ord(ch) % len(pool)]
        if op == 0 or i == len(chars):
            chars.insert(i, ch)
        else:  # op 1 deletes, op 2 replaces
            chars[i:i + 1] = [ch] if op == 2 else []
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
    edits = st.lists(st.tuples(st.integers(0, 10**6), st.integers(0, 2), st.characters(blacklist_categories=("Cs",))),
                     max_size=4)
    text = mutate(model.dumps(data.draw(dicts(cfg)), cfg), data.draw(edits), cfg)
    assert outcome(lambda: loads(text, FormatConfig(*cfg))) == outcome(lambda: model.loads(text, cfg))


@pytest.mark.parametrize("make", [str, type("Text", (str,), {})])
def test_input_keeps_its_size(make):
    text = make("k=[" + "é" * 100_000 + "|x];")
    size = sys.getsizeof(text)
    assert loads(text) == {"k": ["é" * 100_000, "x"]}
    assert sys.getsizeof(text) == size
