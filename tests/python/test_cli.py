"""End-to-end tests of the command-line tool, run as a separate process."""

import json
import math
import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig

import pytest

REPO_ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = REPO_ROOT / "examples"
CORPUS = REPO_ROOT.parent / "shared" / "data" / "corpus"

CONFIG_OPTIONS = [
    "--field-sep", "--kv-sep", "--list-open", "--list-close", "--list-sep", "--obj-open",
    "--obj-close", "--escape", "--null-str", "--true-str", "--false-str",
]  # fmt: skip


def run_cli(*args, stdin=b"", cwd=None):
    """Runs `python -m vardelquin_cli ARGS` with bytes on standard input."""
    return subprocess.run(
        [sys.executable, "-m", "vardelquin_cli", *map(str, args)],
        input=stdin,
        capture_output=True,
        cwd=cwd,
        timeout=120,
    )


def ok(result):
    assert result.returncode == 0, result.stderr.decode("utf-8", "replace")
    assert result.stderr == b""
    return result.stdout.decode("utf-8")


def failure(result, status):
    assert result.returncode == status, (result.returncode, result.stdout, result.stderr)
    assert result.stdout == b""
    return result.stderr.decode("utf-8")


def json_bytes(value):
    return json.dumps(value).encode("utf-8")


# --- help and entry points -------------------------------------------------


def test_console_script_is_installed():
    script = shutil.which("vardelquin", path=os.pathsep.join([sysconfig.get_path("scripts"), os.path.dirname(sys.executable)]))
    if script is None:
        pytest.skip("the console script is not installed next to this interpreter")
    result = subprocess.run([script, "dumps"], input=b'{"a": [1, "x;y"]}', capture_output=True, timeout=60)
    assert ok(result) == "a=[1|x\\;y];\n"


@pytest.mark.parametrize("command", ["dumps", "loads", "check"])
def test_help_documents_every_option(command):
    top = ok(run_cli("--help"))
    assert command in top and "Exit status" in top
    text = ok(run_cli(command, "--help"))
    for option in CONFIG_OPTIONS:
        assert option in text
    extra = {"dumps": ["--wrap", "--no-newline", "--output"], "loads": ["--indent", "--ascii", "--output"], "check": []}
    for option in extra[command]:
        assert option in text


@pytest.mark.parametrize(
    "args",
    [[], ["frobnicate"], ["dumps", "--bogus"], ["loads", "--indent", "x"], ["check", "a", "b"]],
    ids=["no-command", "unknown-command", "unknown-option", "bad-indent", "two-files"],
)
def test_bad_usage_is_status_2(args):
    assert "usage:" in failure(run_cli(*args), 2)


# --- dumps ------------------------------------------------------------------

PERSON_TEXT = (
    "name=mirl;hobbies=[cycling|rowing];age=30;height_m=1.82;member=true;nickname=null;"
    "address={city=Utrecht;street=Canal Row 7;tags=[]};"
)


@pytest.mark.parametrize("source", ["file", "dash", "stdin"])
def test_dumps_sample(source):
    data = (EXAMPLES / "person.json").read_bytes()
    args = {"file": [EXAMPLES / "person.json"], "dash": ["-"], "stdin": []}[source]
    assert ok(run_cli("dumps", *args, stdin=data)) == PERSON_TEXT + "\n"


def test_dumps_no_newline_and_output_file(tmp_path):
    assert ok(run_cli("dumps", "-n", stdin=b'{"a": 1}')) == "a=1;"
    out = tmp_path / "out.txt"
    assert ok(run_cli("dumps", "-o", out, stdin=b'{"a": 1}')) == ""
    assert out.read_bytes() == b"a=1;\n"


@pytest.mark.parametrize(
    "document, kind",
    [([1, 2], "array"), ('"x"', "string"), (3, "number"), (None, "null"), (True, "boolean")],
)
def test_dumps_top_level_not_object(document, kind):
    data = document.encode() if isinstance(document, str) else json_bytes(document)
    message = failure(run_cli("dumps", stdin=data), 1)
    assert f"the top level is a JSON {kind}, not an object" in message and "--wrap" in message
    wrapped = ok(run_cli("dumps", "--wrap", "data", stdin=data))
    expected = {"data": json.loads(data)}
    assert json.loads(ok(run_cli("loads", stdin=wrapped.encode()))) == expected


def test_wrap_leaves_an_object_alone():
    assert ok(run_cli("dumps", "--wrap", "data", stdin=b'{"a": 1}')) == "a=1;\n"


@pytest.mark.parametrize(
    "data, message",
    [
        (b'{"a": ', "not a JSON document"),
        (b'{"a": 1}\xff', "not a JSON document"),
        (b'{"n": 9223372036854775808}', "int too big to convert"),
        (b'{"s": "\\ud800"}', "surrogate"),
        (b'{"a": ' + b"[" * 1001 + b"]" * 1001 + b"}", "Maximum nesting depth of 1000 exceeded"),
    ],
    ids=["truncated", "not-utf8", "int-overflow", "lone-surrogate", "too-deep"],
)
def test_dumps_bad_input_is_status_1(data, message):
    assert message in failure(run_cli("dumps", stdin=data), 1)


def test_dumps_missing_file_is_status_1(tmp_path):
    assert "cannot read" in failure(run_cli("dumps", tmp_path / "absent.json"), 1)


# --- loads and check ----------------------------------------------------------


@pytest.mark.parametrize(
    "text, expected",
    [
        (PERSON_TEXT, json.loads((EXAMPLES / "person.json").read_text())),
        ("", {}),
        ("a=nan;b=inf;c=-inf;d=-0.0", {"a": math.nan, "b": math.inf, "c": -math.inf, "d": -0.0}),
        ("k=日本;e=é", {"k": "日本", "e": "é"}),
        ("=1;b=2;", {"": 1, "b": 2}),
    ],
    ids=["sample", "empty", "non-finite", "non-ascii", "empty-key"],
)
def test_loads(text, expected):
    out = ok(run_cli("loads", stdin=text.encode()))
    assert out.endswith("\n") and out.count("\n") == 1
    assert same(json.loads(out), expected)
    assert ok(run_cli("check", stdin=text.encode())) == ""


def test_loads_json_forms():
    out = ok(run_cli("loads", "--indent", "2", stdin="a=[1|2];b=é;c=nan".encode()))
    assert out == '{\n  "a": [\n    1,\n    2\n  ],\n  "b": "é",\n  "c": NaN\n}\n'
    assert ok(run_cli("loads", "--ascii", stdin="b=é".encode())) == '{"b": "\\u00e9"}\n'


@pytest.mark.parametrize(
    "text, expected",
    [
        (b"a=1;\n", {"a": 1}),
        (b"a=1;\r\n", {"a": 1}),
        (b"a=x\n", {"a": "x"}),
        (b"a=x\r\ny\r;b=\n;", {"a": "x\r\ny\r", "b": "\n"}),
    ],
    ids=["lf", "crlf", "lf-no-field-sep", "inner-line-breaks"],
)
def test_loads_drops_one_final_line_ending(text, expected):
    assert json.loads(ok(run_cli("loads", stdin=text))) == expected


def test_line_breaks_inside_values_survive_a_pipe():
    document = {"s": "one\r\ntwo\rthree\n", "t": ["\n", "\r"]}
    text = ok(run_cli("dumps", stdin=json_bytes(document)))
    assert json.loads(ok(run_cli("loads", stdin=text.encode("utf-8")))) == document


def test_loads_not_utf8_is_status_1():
    assert "not UTF-8 text" in failure(run_cli("loads", stdin=b"a=\xff;"), 1)


# Each case: the text, the reader's message, "line:column" (column in
# characters, from 1), and the offending line as shown.
READER_ERRORS = [
    ("a=[1}2]", "Unexpected '}' in list at pos 4", "1:5", "a=[1}2]"),
    ("é={x}", "Expected '=' but got '}' at pos 5", "1:5", "é={x}"),
    ("a=[[1]é]", "Unexpected 'Ã' in list at pos 6", "1:7", "a=[[1]é]"),
    ("x=日本語;y={k=1]", "Unexpected ']' in object at pos 18", "1:13", "x=日本語;y={k=1]"),
    ("a=1;\nb=[[1]\n]", "Unexpected '\\n' in list at pos 11", "2:7", "b=[[1]"),
    ("a={x=1;}\n", "Expected '=' but got '}' at pos 7", "1:8", "a={x=1;}"),
    ("\tk={a=1;b}", "Expected '=' but got '}' at pos 9", "1:10", "\tk={a=1;b}"),
    ("a=[1|2", "Unterminated list", "1:7", "a=[1|2"),
    ("a=1;\nb={x=1", "Unterminated object", "2:7", "b={x=1"),
    ("a", "Expected '=' but got EOF", "1:2", "a"),
    ("a=" + "[" * 1001, "Maximum nesting depth of 1000 exceeded at pos 1002", "1:1003", None),
    ("a=[" + "1|" * 100 + "}" + "2" * 100 + "]", "Unexpected '}' in list at pos 203", "1:204", None),
]


@pytest.mark.parametrize("command", ["loads", "check"])
@pytest.mark.parametrize("text, message, where, line", READER_ERRORS)
def test_reader_error_shows_caret(command, text, message, where, line):
    stderr = failure(run_cli(command, stdin=text.encode("utf-8")), 1)
    first, shown, caret = stderr.rstrip("\n").split("\n")
    assert first == f"vardelquin: error: <stdin>:{where}: {message}"
    assert shown.startswith("    ") and caret.startswith("    ")
    shown, caret = shown[4:], caret[4:]
    if line is not None:
        assert shown == line
    else:  # a long line is cut around the caret
        assert shown.startswith("...") and len(shown) < 120
    column = caret.index("^")
    assert caret[:column].strip(" \t") == "" and caret.endswith("^")
    # The caret stands under the offending character, or just past the end of
    # the line when the text (or the line) ends there.
    pos = re.search(r"at pos (\d+)$", message)
    data = text.encode("utf-8")
    offending = data[int(pos.group(1)) :].decode("utf-8")[:1] if pos else ""
    if offending in ("", "\n"):
        assert column == len(shown) or shown.endswith("...")
    else:
        assert shown[column] == offending
    assert [i for i, ch in enumerate(caret) if ch == "\t"] == [i for i, ch in enumerate(shown[:column]) if ch == "\t"]


def test_caret_file_name(tmp_path):
    path = tmp_path / "bad.txt"
    path.write_bytes(b"a=[1}")
    stderr = failure(run_cli("check", path), 1)
    assert stderr.startswith(f"vardelquin: error: {path}:1:5: Unexpected '}}' in list at pos 4\n")


# --- the format configuration ------------------------------------------------

# Each row: options, a JSON document, its text under those options.
DIALECTS = [
    (["--field-sep", ","], {"a": 1, "o": {"x": 1, "y": 2}}, "a=1,o={x=1,y=2},"),
    (["--kv-sep", ":"], {"a": "b=c"}, "a:b=c;"),
    (["--list-open", "(", "--list-close", ")", "--list-sep", ","], {"l": [1, [2, "(x)"]]}, "l=(1,(2,\\(x\\)));"),
    (["--obj-open", "<", "--obj-close", ">"], {"o": {"k": "{}"}}, "o=<k={}>;"),
    (["--escape", "%"], {"k": "a;b\\50%"}, "k=a%;b\\50%%;"),
    (["--null-str", "nil", "--true-str", "yes", "--false-str", "no"], {"n": None, "t": True, "f": False, "s": "null"}, "n=nil;t=yes;f=no;s=null;"),
    (["--field-sep=\t", "--kv-sep", "-"], {"a": "x-y", "b": [1]}, "a-x\\-y\tb-[1]\t"),
]  # fmt: skip


def test_dialects_cover_every_option():
    used = {arg.split("=")[0] for options, _, _ in DIALECTS for arg in options if arg.startswith("--")}
    assert used == set(CONFIG_OPTIONS)


@pytest.mark.parametrize("options, document, text", DIALECTS)
def test_dialect_both_ways(options, document, text):
    assert ok(run_cli("dumps", *options, stdin=json_bytes(document))) == text + "\n"
    assert json.loads(ok(run_cli("loads", *options, stdin=text.encode()))) == document
    assert ok(run_cli("check", *options, stdin=text.encode())) == ""


@pytest.mark.parametrize("command", ["dumps", "loads", "check"])
@pytest.mark.parametrize(
    "options, message",
    [
        (["--kv-sep", ";"], "Delimiter conflict: 'field_sep' and 'kv_sep' are both ';'"),
        (["--field-sep", "ab"], "expected a string of length 1"),
        (["--escape", "é"], "'escape' must be an ASCII character, got 'é'"),
        (["--null-str="], "'null_str' must not be empty"),
        (["--true-str", "false"], "true_str and false_str must be different"),
        (["--false-str", "n;o"], "'false_str' contains delimiter character ';'"),
    ],
)
def test_invalid_configuration_is_status_2(command, options, message, tmp_path):
    stderr = failure(run_cli(command, *options, stdin=b'{"a": 1}', cwd=tmp_path), 2)
    assert f"vardelquin {command}: error: {message}\n" in stderr
    assert list(tmp_path.iterdir()) == []


# --- nesting limits ------------------------------------------------------------


def test_deepest_accepted_nesting_round_trips():
    nested = "[" * 1000 + "]" * 1000
    text = ok(run_cli("dumps", stdin=f'{{"a": {nested}}}'.encode()))
    assert text == f"a={nested};\n"
    assert ok(run_cli("loads", stdin=text.encode())) == f'{{"a": {nested}}}\n'
    indented = ok(run_cli("loads", "--indent", "1", stdin=text.encode()))
    assert ok(run_cli("dumps", stdin=indented.encode())) == text


# --- round trips of real documents ---------------------------------------------

_INT = re.compile(r"[+-]?[0-9]+\Z")
_FLOAT = re.compile(r"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|inf|infinity|nan)\Z", re.IGNORECASE)


def read_back(value):
    """What a JSON value becomes after text and back: the known lossy cases.

    A string that spells a keyword or a number is read back typed; a list that
    holds only one empty string is written like the empty list.
    """
    if isinstance(value, dict):
        return {key: read_back(item) for key, item in value.items()}
    if isinstance(value, list):
        return [] if value == [""] else [read_back(item) for item in value]
    if isinstance(value, str):
        keywords = {"null": None, "true": True, "false": False}
        if value in keywords:
            return keywords[value]
        if _INT.match(value) and -(2**63) <= int(value) < 2**63:
            return int(value)
        if _FLOAT.match(value):
            return float(value)
    return value


def difference(a, b, path="$"):
    """The first place where a and b differ in type or value, or None."""
    if type(a) is not type(b):
        return f"{path}: {type(a).__name__} {a!r:.80} != {type(b).__name__} {b!r:.80}"
    if isinstance(a, dict):
        if a.keys() != b.keys():
            return f"{path}: keys {sorted(a.keys() ^ b.keys())[:5]} differ"
        return next((d for k in a if (d := difference(a[k], b[k], f"{path}.{k}"))), None)
    if isinstance(a, list):
        if len(a) != len(b):
            return f"{path}: length {len(a)} != {len(b)}"
        return next((d for i, (x, y) in enumerate(zip(a, b)) if (d := difference(x, y, f"{path}[{i}]"))), None)
    if isinstance(a, float):
        same_float = (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))
        return None if same_float else f"{path}: {a!r} != {b!r}"
    return None if a == b else f"{path}: {a!r:.80} != {b!r:.80}"


def same(a, b):
    return difference(a, b) is None


@pytest.mark.parametrize(
    "a, b, equal",
    [
        ({"x": [1, 2.5, "s", None]}, {"x": [1, 2.5, "s", None]}, True),
        ({"x": 1}, {"x": 1.0}, False),
        ({"x": True}, {"x": 1}, False),
        ({"x": -0.0}, {"x": 0.0}, False),
        ({"x": math.nan}, {"x": math.nan}, True),
        ({"x": [1]}, {"x": [1, 2]}, False),
    ],
)
def test_comparison_helper(a, b, equal):
    assert same(a, b) is equal


@pytest.mark.parametrize(
    "value, expected",
    [
        ("30", 30), ("-0", 0), ("1.5", 1.5), (".5", 0.5), ("1e3", 1000.0), ("Infinity", math.inf),
        ("true", True), ("null", None), ("9223372036854775808", 9223372036854775808.0),
        ("True", "True"), ("1_000", "1_000"), (" 5", " 5"), ("0x10", "0x10"), ("", ""),
        ([""], []), ([["", ""]], [["", ""]]),
    ],
)  # fmt: skip
def test_read_back_matches_the_module(value, expected):
    import vardelquin

    assert same(read_back(value), expected)
    assert same(vardelquin.loads(vardelquin.dumps({"v": value})), {"v": expected})


CORPUS_FILES = sorted(CORPUS.glob("*.json")) if CORPUS.is_dir() else []


@pytest.mark.skipif(not CORPUS_FILES, reason="the corpus is not present next to the repository")
@pytest.mark.parametrize("path", CORPUS_FILES, ids=lambda p: p.name)
def test_corpus_round_trip(path, tmp_path):
    original = json.loads(path.read_bytes())
    text_file = tmp_path / "doc.txt"
    ok(run_cli("dumps", "--wrap", "data", path, "-o", text_file))
    assert ok(run_cli("check", text_file)) == ""
    result = json.loads(ok(run_cli("loads", text_file)))
    expected = read_back(original if isinstance(original, dict) else {"data": original})
    assert difference(result, expected) is None
    assert list(result) == list(expected)  # top-level order is kept
