"""Each str that loads makes, by its route: strings on either side of each byte length where the route changes
(32, 64, 128, 512), of each character width in each place, as keys and as values, with escapes (made from a copy)
and without (made from the text), in texts that are ASCII, hold a four-byte character, or lend no UTF-8 of
their own. Every result must equal what was written, and be an exact str."""
import pytest

from vardelquin import dumps, loads

WIDTHS = {"ascii": "a", "latin1": "\u00e9", "latin1-top": "\u00ff", "above-latin1": "\u0100",
          "bmp": "\u4e2d", "bmp-top": "\uffff", "astral": "\U0001f600", "astral-top": "\U0010ffff"}
# Sizes in UTF-8 bytes around each threshold, and a few short ones.
SIZES = [0, 1, 2, 7, 8, 9, 16, 31, 32, 33, 63, 64, 65, 127, 128, 129, 511, 512, 513, 600]


def string_of(size, special, where):
    """A string of about `size` UTF-8 bytes (exactly, where the special character fits) with `special` in place."""
    width = len(special.encode())
    if size < width:
        return "a" * size
    fill = size - width
    if where == "first":
        return special + "b" * fill
    if where == "last":
        return "b" * fill + special
    if where == "only":
        return special * (size // width)
    return (special + "c" * 3) * (size // (width + 3)) + "d" * (size % (width + 3))


def check(document):
    text = dumps(document)
    got = loads(text)
    assert got == document
    for key, value in got.items():
        assert type(key) is str
        for item in value:
            assert type(item) is str


@pytest.mark.parametrize("source", ["ascii", "bmp", "astral", "large"])
@pytest.mark.parametrize("where", ["first", "last", "only", "throughout"])
@pytest.mark.parametrize("width", list(WIDTHS))
def test_strings_of_each_width_and_size_read_back(width, where, source):
    special = WIDTHS[width]
    strings = [string_of(size, special, where) for size in SIZES]
    document = {"k" + s: [s, s + ";=\\", "\\" + s] for s in strings}
    document["v"] = strings
    if source == "bmp":
        document["\u4e2d"] = ["\u4e2d"]
    elif source == "astral":
        document["\U0001f600"] = ["\U0001f600"]
    elif source == "large":  # past the size where the text is transcoded instead of lent
        document["pad"] = ["\u00e9" * 5000]
    check(document)


def test_same_key_twice_reads_back_as_equal_strs():
    key = "\u00e9t\u00e9" * 3
    first, second = loads(dumps({key: [1]})), loads(dumps({key: [2]}))
    assert list(first) == list(second) == [key]


@pytest.mark.parametrize("values", [
    ["", "x" * 32, "x" * 33, "x" * 31 + "y", "\u00e9" * 16, "\U0001f600" * 8, "e\u0301"],
    ["v%d" % i for i in range(2000)],  # more values than the cache holds
], ids=["edges", "many"])
def test_short_values_read_back_from_call_to_call(values):
    for _ in range(2):
        for chunk in range(0, len(values), 300):
            part = values[chunk:chunk + 300]
            document = {"l": part, "k": [v + "=" for v in part]}
            document.update({v or "e": [v, "z"] for v in part})  # [""] would read back as []
            check(document)


def test_values_read_back_after_the_cache_stops_being_looked_in():
    distinct = ["d%05d" % i for i in range(500)]  # misses enough to stop looking
    repeated = ["r%d" % (i % 7) for i in range(500)]
    check({"a": distinct + repeated, "b": repeated + distinct})
