"""The text of a large str that is not ASCII, read as code points and transcoded to UTF-8 eight at a time:
texts on either side of the size where that starts and of a block's edge, characters of each width in each
place, lone surrogates, and failures whose byte offset lies after multi-byte characters. Every outcome is
compared with the model's."""
import sys

import pytest

import model
from test_loads_blocks import model_outcome, outcome
from vardelquin import loads

SMALL = 4096  # below this many characters a str lends its own UTF-8
WIDTHS = {"latin1": "\u00e9", "bmp": "\u4e2d", "astral": "\U0001f600", "two-byte": "\u03b1"}
# Text lengths in characters: on either side of the size, and with each tail after the blocks of eight.
LENGTHS = [SMALL - 1, SMALL, SMALL + 1, SMALL + 3, SMALL + 7, 3 * SMALL + 5]


def text_of(length, special, where, fill="a"):
    """A text of `length` characters: k=[<fill...>|x]; with `special` first, last or only in the first item."""
    body = length - len("k=[|x];")
    if where == "first":
        item = special + fill * (body - 1)
    elif where == "last":
        item = fill * (body - 1) + special
    elif where == "throughout":
        item = (special + fill * 7) * (body // 8) + fill * (body % 8)
    else:  # the only character of its kind, in the middle
        item = fill * (body // 2) + special + fill * (body - body // 2 - 1)
    text = "k=[" + item + "|x];"
    assert len(text) == length
    return text


@pytest.mark.parametrize("length", LENGTHS)
@pytest.mark.parametrize("width", WIDTHS)
@pytest.mark.parametrize("where", ["first", "last", "middle", "throughout"])
def test_each_width_in_each_place_reads_as_the_model_does(length, width, where):
    text = text_of(length, WIDTHS[width], where)
    assert outcome(text) == model_outcome(text)


@pytest.mark.parametrize("length", LENGTHS)
def test_only_non_ascii_characters_and_mixed_widths(length):
    widths = "".join(WIDTHS.values()) + ";= "
    text = "k=" + "".join(widths[i % len(widths)] for i in range(length - 3)) + "\\;"
    assert outcome(text) == model_outcome(text)


@pytest.mark.parametrize("length", LENGTHS)
@pytest.mark.parametrize("at", [0.0, 0.5, 1.0])
@pytest.mark.parametrize("surrogate", ["\ud800", "\udfff"])
def test_lone_surrogate_gives_the_interpreters_error(length, at, surrogate):
    chars = list(text_of(length, "\u00e9", "throughout"))
    chars[min(int(at * length), length - 1)] = surrogate
    text = "".join(chars)
    with pytest.raises(UnicodeEncodeError) as info:
        loads(text)
    with pytest.raises(UnicodeEncodeError) as expected:
        text.encode("utf-8")
    assert type(info.value) is UnicodeEncodeError and info.value.__cause__ is None
    assert info.value.args == expected.value.args


@pytest.mark.parametrize("length", LENGTHS)
@pytest.mark.parametrize("width", WIDTHS)
@pytest.mark.parametrize("broken", ["k={a}", "k=[a", "k={a=1", "k"])
def test_failure_after_non_ascii_text_has_its_byte_offset(length, width, broken):
    text = text_of(length, WIDTHS[width], "throughout") + broken
    got = outcome(text)
    assert got == model_outcome(text) and got[0] == "ValueError"
    assert got[2] > length  # a byte offset: past the characters' count


@pytest.mark.parametrize("width", WIDTHS)
def test_input_is_left_without_a_utf8_copy(width):
    subclass = type("Text", (str,), {})
    for text in (text_of(3 * SMALL + 5, WIDTHS[width], "throughout"), subclass(text_of(SMALL, WIDTHS[width], "last"))):
        size = sys.getsizeof(text)
        assert loads(text) == model.loads(text)
        assert sys.getsizeof(text) == size
