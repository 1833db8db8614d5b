import math
import random
import struct
import sys

import pytest
from hypothesis import assume, given, strategies as st

import model
from model import shape
from strategies import PROPERTY, configs, dicts
from vardelquin import FormatConfig, dumps, loads


def survives(obj, cfg):
    """Whether the text of obj reads back as obj: no scalar may spell another
    type's token, and no list may be a lone empty string."""
    if isinstance(obj, dict):
        return all(survives(v, cfg) for v in obj.values())
    if isinstance(obj, list):
        return obj != [""] and all(survives(v, cfg) for v in obj)
    if obj is None or isinstance(obj, bool):
        return True
    token = model.format_float(obj) if isinstance(obj, float) else str(obj)
    return shape(model.decode_scalar(token, cfg)) == shape(obj)


def nested_sorted(obj):
    if isinstance(obj, list):
        return [nested_sorted(v) for v in obj]
    if isinstance(obj, dict):
        return {k: nested_sorted(obj[k]) for k in sorted(obj)}
    return obj


@PROPERTY
@given(st.data())
def test_loads_inverts_dumps(data):
    cfg = data.draw(configs)
    obj = data.draw(dicts(cfg, plain=True))
    assume(survives(obj, cfg))
    fc = FormatConfig(*cfg)
    back = loads(dumps(obj, fc), fc)
    assert shape(back) == shape({k: nested_sorted(v) for k, v in obj.items()})


@pytest.mark.parametrize("obj", [
    {"": 1, "a": {"": [], "b": {}}}, {"k": [["", ""], [[]]]},
    {"n": -2**63, "m": 2**63 - 1, "z": -0.0, "i": -math.inf, "j": math.inf},
    {"w": "x;=[]|{}\\", "u": "é\x00\n"}, {"p": math.nan, "l": [math.nan, "nan\\"]},
])
def test_roundtrip_examples(obj):
    assert shape(loads(dumps(obj))) == shape(obj)


@pytest.mark.parametrize("length", range(0, 50, 3))
@pytest.mark.parametrize("special", [";", "\\", "é", "}", "\U0001f600"])
def test_delimiters_at_every_offset(length, special):
    for at in range(length + 1):
        s = "x" * at + special + "y" * (length - at)
        obj = {s: s, "l": [s, special * length], "o": {s: s}}
        assert dumps(obj) == model.dumps(obj)
        assert shape(loads(dumps(obj))) == shape({k: nested_sorted(v) for k, v in obj.items()})


def _float_families(rng):
    for _ in range(20000):
        yield struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
    for e in range(-1074, 1024):
        for delta in (-1, 0, 1):
            yield math.ldexp(1.0, e) * (1 + delta * sys.float_info.epsilon)
    for n in range(2**52 - 3, 2**52 + 3):
        yield n + 0.5
        yield -(n + 0.25)
    for _ in range(5000):
        yield rng.random() * 10 ** rng.randint(-30, 30)


def test_float_text_on_many_bit_patterns():
    xs = list(_float_families(random.Random(20240607)))
    text = dumps({str(i): x for i, x in enumerate(xs)})
    wrong = [(x, t) for x, t in zip(xs, text.split(";")) if t.partition("=")[2] != model.format_float(x)]
    assert wrong[:3] == [] and text.count(";") == len(xs)  # a short report: a diff of the texts takes ages
    back = loads(text)
    for i, x in enumerate(xs):
        y = back[str(i)]
        assert math.isnan(y) if math.isnan(x) else struct.pack("<d", y) == struct.pack("<d", x)


@PROPERTY
@given(st.binary(min_size=8, max_size=8))
def test_float_text_on_random_bits(raw):
    x = struct.unpack("<d", raw)[0]
    text = dumps({"x": x})
    assert text == "x=" + model.format_float(x) + ";"
    y = loads(text)["x"]
    assert math.isnan(y) if math.isnan(x) else struct.pack("<d", y) == struct.pack("<d", x)


ROLES = model.DELIMITERS
NUMBERS = {"i": [0, 7, -1, 10, 1234567890, -2**63, 2**63 - 1], "top": -42, "nan": math.nan,
           "f": [0.0, -0.0, 1.5, -2.25, 1e-7, 1e23, 0.30000000000000004, math.inf, -math.inf],
           "o": {"j": [5, {"x": 100.25}], "k": -9.5}}  # nested keys sorted, as they read back


@pytest.mark.parametrize("char", "0123456789-.+eENaNinfIF")
@pytest.mark.parametrize("role", ROLES)
def test_numbers_survive_delimiters_they_contain(role, char):
    fields = dict(zip(model.FIELDS, model.DEFAULTS), null_str="#", true_str="!", false_str="?")
    fields[role] = char
    cfg = FormatConfig(**fields)
    obj = dict(NUMBERS, **{"k" + char: ["x" + char + "y", char * 3 + "z"]})
    text = dumps(obj, cfg)
    assert text == model.dumps(obj, cfg)
    assert shape(loads(text, cfg)) == shape(obj)


@pytest.mark.parametrize("fields, obj, text", [
    ({"list_sep": "."}, {"a": [1.5, 2]}, "a=[1\\.5.2];"),
    ({"field_sep": "-"}, {"a": -1, "b": 2}, "a=\\-1-b=2-"),
    ({"escape": "0"}, {"a": 10}, "a=100;"),
])
def test_numbers_escaped_as_strings_are(fields, obj, text):
    cfg = FormatConfig(**fields)
    assert dumps(obj, cfg) == text
    assert loads(text, cfg) == obj
