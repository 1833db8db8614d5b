"""Long texts mostly of multi-byte characters, of which dumps makes its result and loads its long strings through
UTF-16 or, with a character beyond the BMP, through code points, and every other long text, which goes through the
interpreter's UTF-8 decoder: on either side of each size and content where the route changes, every str made must
be the one the model makes, character for character."""
import pytest

import model
from vardelquin import FormatConfig, dumps, loads

# Dense runs of each width, and the characters at the edges of each.
DENSE = {
    "latin1": "\u00e9\u00e0\u00fc\u00ff\u0080",
    "greek": "\u03b1\u03b2\u03b3\u07ff",
    "cjk": "\u4e2d\u6587\u0800\uffff",
    "mixed": "\u00e9t\u00e9 \u03b1\u03b2 \u4e2d\u6587, ",
    "astral": "\U0001f600\U00010000 \u00e9\U0010ffff\u4e2d",
}


def dense(kind, size):
    """`size` characters of a dense run."""
    run = DENSE[kind]
    return (run * (size // len(run) + 1))[:size]


CASES = {
    # Results of about 256 bytes, the size where a result's route starts to depend on its content.
    **{f"{kind}-{size}": {"k": dense(kind, size)} for kind in DENSE for size in (60, 126, 127, 128, 200)},
    # Around the first kilobyte, which turns away a text that does not start dense.
    **{f"ascii-start-{size}": {"a": "x" * size, "b": dense("greek", 3000)} for size in (480, 520, 1100)},
    "dense-then-ascii": {"a": dense("cjk", 400), "b": "x" * 5000},
    "bom-first": {"\ufeff": "\ufeff" + dense("cjk", 2000)},
    "astral-late": {"a": dense("greek", 3000), "b": "\U0001f600"},
    "astral-first": {"\U0010ffff": dense("greek", 3000)},
    "delimiters": {"k;=": [dense("mixed", 700) + ";=[]|{}\\" + dense("cjk", 700)] * 3},
    "nested": {"o": {"z": dense("greek", 900), "a": [dense("latin1", 900), 1.5, None]}},
}


@pytest.mark.parametrize("document", CASES.values(), ids=CASES.keys())
def test_long_texts_write_and_read_as_the_model_does(document):
    text = dumps(document)
    assert text == model.dumps(document)
    assert loads(text) == model.loads(text) == document


@pytest.mark.parametrize("kind", DENSE)
@pytest.mark.parametrize("size", [250, 256, 300, 1000, 5000])
def test_long_escaped_strings_read_back(kind, size):
    # An escape makes each string a copy of its own rather than a part of the text, made by the long-string route.
    value = "\\" + dense(kind, size) + ";" + dense(kind, size // 3)
    document = {"k": [value, value + "\U0001f600", "\ufeff" + value]}
    assert loads(dumps(document)) == document


@pytest.mark.parametrize("tail", ["k", "k=[1", "k={a=1]"])
def test_failures_after_long_text_say_where_as_the_model_does(tail):
    # Positions are byte offsets of the UTF-8 text, after thousands of multi-byte characters.
    document = {"k": dense("mixed", 3000), "x": dense("cjk", 10)}
    config = FormatConfig(field_sep="&")
    assert dumps(document, config) == model.dumps(document, config)
    broken = dumps(document) + tail
    with pytest.raises(ValueError) as caught:
        loads(broken)
    with pytest.raises(ValueError) as expected:
        model.loads(broken)
    assert str(caught.value) == str(expected.value)
    assert caught.value.pos == expected.value.pos > len(broken)
