"""Tokens read in blocks of sixteen bytes: escapes, stops and numbers on either side of a block's edge.

The reader finds the end of a token, and the next escape in it, sixteen bytes at a time, so faults hide
at the 15th, 16th and 17th byte of a run and at the end of the text. Every text is compared with the
model's reading of it.
"""
import gc
import random

import pytest

import model
from model import shape
from vardelquin import loads

EDGES = [0, 1, 14, 15, 16, 17, 31, 32, 33]
# What follows an escape: a delimiter, the escape itself, multi-byte characters, an ordinary letter.
ESCAPED = [";", "\\", "=", "|", "\u00e9", "\u4e2d", "\U0001f600", "a"]
PLACES = {  # a token in each kind of place, as a text with the token spliced in
    "value": "k={};z=1;",
    "top-key": "{}=v;z=1;",
    "item": "k=[a|{}|b];",
    "member-key": "k={{a=1;{}=2;b=3}};",
    "member-value": "k={{a=1;b={};c=3}};",
}


def outcome(text):
    try:
        return shape(loads(text))
    except ValueError as e:
        return (type(e).__name__, str(e), e.pos)


def model_outcome(text):
    try:
        return shape(model.loads(text))
    except ValueError as e:
        return (type(e).__name__, str(e), e.pos)


def same_as_model(text):
    assert outcome(text) == model_outcome(text), repr(text)


@pytest.mark.parametrize("place", PLACES)
@pytest.mark.parametrize("escaped", ESCAPED)
def test_one_escape_at_each_edge(place, escaped):
    for before in EDGES:
        for after in (0, 1, 15, 16, 17):
            token = "x" * before + "\\" + escaped + ("\u00e9" if after else "") + "y" * after
            same_as_model(PLACES[place].format(token))


@pytest.mark.parametrize("place", PLACES)
@pytest.mark.parametrize("escapes", ["\\\\\\;", "\\;\\;", "\\\\\\\\", "\\;\\\u00e9\\|", "\\\U0001f600\\;"])
def test_escapes_in_a_row_at_each_edge(place, escapes):
    for before in EDGES:
        for gap in (0, 1, 14, 15, 16, 17):
            token = "x" * before + escapes + "y" * gap + escapes
            same_as_model(PLACES[place].format(token))


@pytest.mark.parametrize("before", EDGES + [47, 48, 49])
@pytest.mark.parametrize("tail", ["\\", "x\\", "\\\\\\", "\\;\\", "\u00e9\\"])
def test_an_escape_as_the_last_byte(before, tail):
    same_as_model("k=" + "x" * before + tail)
    same_as_model("k=[" + "x" * before + tail)  # inside a list that never closes
    same_as_model("x" * before + tail)  # a key that never ends


@pytest.mark.parametrize("where", ["start", "middle", "end", "none"])
def test_long_non_ascii_strings_with_an_escaped_delimiter(where):
    body = "\u00e9\u4e2d\U0001f600\u03b1" * 250
    strings = []
    for i in range(50):
        s = body[i:]
        at = {"start": 0, "middle": len(s) // 2, "end": len(s), "none": None}[where]
        strings.append(s if at is None else s[:at] + "\\;" + s[at:])
    text = "k=[" + "|".join(strings) + "];"
    result = loads(text)
    assert shape(result) == shape(model.loads(text))
    assert all(";" in s for s in result["k"]) == (where != "none")


@pytest.mark.parametrize("length", range(12, 21))
def test_number_tokens_across_an_edge(length):
    """Integers, floats of the exact shortcut and beyond it, and near-numbers, ending at every byte of a block."""
    digits = "9007199254740993123456"
    tokens = []
    for lead in range(0, 18):
        pad = "x" * lead
        tokens += [digits[:length], "-" + digits[:length - 1], digits[:length - 3] + ".25",
                   "1." + digits[:length - 6] + "e-7", digits[:length - 4] + "e22", "0" * (length - 1) + "7",
                   digits[:length - 1] + "x", digits[:length - 2] + "\\.5", "-" + digits[:length - 4] + "\\e3"]
        text = "p=%s;" % pad + ";".join("k%d=%s" % (i, t) for i, t in enumerate(tokens)) + ";"
        same_as_model(text)
        same_as_model("a=[" + pad + "|".join(tokens) + "]")
        same_as_model("a={" + ";".join("k%s%d=%s" % (pad, i, t) for i, t in enumerate(tokens)) + "}")


def test_nested_objects_keep_escaped_keys_until_they_close():
    """Keys read through escapes outlive the later tokens that reuse the reader's scratch space."""
    members = ";".join("k\\;%02d=v\\|%d" % (i, i) for i in reversed(range(40)))
    text = "o\\==[{%s}|{b\\;=1;a\\;=2;b\\;=3;a=[x\\;|{z\\;=\\;}]}];" % members
    result = loads(text)
    assert shape(result) == shape(model.loads(text))
    assert list(result["o="][0]) == ["k;%02d" % i for i in range(40)]
    assert list(result["o="][1]) == ["a", "a;", "b;"] and result["o="][1]["b;"] == 3


def test_no_container_is_seen_unfinished_while_reading():
    """A collector callback during loads finds every list and dict complete and consistent."""
    seen = []

    def walk(phase, info):
        if phase == "start":
            for o in gc.get_objects():
                if type(o) is list:
                    seen.append(sum(1 for _ in o))
                elif type(o) is dict:
                    seen.append(sum(1 for _ in o.items()))

    items = "|".join("{b=%d;a=[%d|{x=y}]}" % (i, i) for i in range(3000))
    was_enabled = gc.isenabled()
    gc.enable()
    gc.callbacks.append(walk)
    try:
        result = loads("first=1;l=[" + items + "];o={k=[" + items + "]};last=2", None)
    finally:
        gc.callbacks.remove(walk)
        if not was_enabled:
            gc.disable()
    assert list(result) == ["first", "l", "o", "last"] and len(result["o"]["k"]) == 3000


@pytest.mark.parametrize("alphabet", ["\u4e2d\u6587\u00e9ab", "\u4e2d\u6587\u00e9ab\U0001f600", "\u00e9\u00e8abc"])
def test_strings_among_multi_byte_characters(alphabet):
    """Long and short strings, plain and escaped, keys and numbers between them: each string where it was."""
    rng = random.Random(len(alphabet))
    expected, items = {}, []
    for i in range(400):
        length = rng.choice([0, 1, 5, 21, 22, 65, 300])
        value = "".join(rng.choice(alphabet + (";" if i % 4 == 0 else "")) for _ in range(length))
        key = "k\u6587%d" % i if i % 3 else "k%d" % i
        expected[key] = [value, i] if i % 5 == 0 else {"z": value} if i % 7 == 0 else value
        text = value.replace(";", "\\;")
        items.append("%s=%s" % (key, "[%s|%d]" % (text, i) if i % 5 == 0 else "{z=%s}" % text if i % 7 == 0 else text))
    text = ";".join(items)
    assert loads(text) == expected
    assert shape(loads(text)) == shape(model.loads(text))
