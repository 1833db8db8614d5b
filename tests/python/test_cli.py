"""End-to-end tests of the command-line tool, run as a separate process."""
import json
import math
import os
import pathlib
import shutil
import sys

import pytest

import model
from clirun import failure, ok, run_cli

REPO_ROOT = pathlib.Path(__file__).resolve().parents[2]
PERSON = REPO_ROOT / "examples" / "person.json"
CORPUS = REPO_ROOT.parent / "shared" / "data" / "corpus"
CORPUS_FILES = sorted(CORPUS.glob("*.json")) if CORPUS.is_dir() else []
OPTIONS = ["--" + field.replace("_", "-") for field in model.FIELDS]
PERSON_TEXT = ("name=mirl;hobbies=[cycling|rowing];age=30;height_m=1.82;member=true;nickname=null;"
               "address={city=Utrecht;street=Canal Row 7;tags=[]};")


def canon(value):  # tells 1, 1.0 and True apart, -0.0 from 0.0; split so that a failure reports its place
    return json.dumps(value, sort_keys=True).split(", ")


def test_console_script_and_help():
    script = shutil.which("vardelquin", path=os.path.dirname(sys.executable))
    if script is not None:  # the installed console script
        assert ok(run_cli("dumps", stdin=b'{"a": [1, "x;y"]}', prog=[script])) == "a=[1|x\\;y];\n"
    assert all(word in ok(run_cli("--help")) for word in ("dumps", "loads", "check", "Exit status"))
    extra = {"dumps": ["--wrap", "--no-newline", "--output"], "loads": ["--indent", "--ascii", "--output"]}
    for command in ("dumps", "loads", "check"):
        text = ok(run_cli(command, "--help"))
        assert all(option in text for option in OPTIONS + extra.get(command, []))


@pytest.mark.parametrize("args", [[], ["frobnicate"], ["dumps", "--bogus"], ["loads", "--indent", "x"]])
def test_bad_usage_is_status_2(args):
    assert "usage:" in failure(run_cli(*args), 2)


@pytest.mark.parametrize("args", [[PERSON], ["-"], []])
def test_dumps_sample(args):
    assert ok(run_cli("dumps", *args, stdin=PERSON.read_bytes())) == PERSON_TEXT + "\n"


def test_no_newline_output_file_and_named_input(tmp_path):
    assert ok(run_cli("dumps", "-n", stdin=b'{"a": 1}')) == "a=1;"
    assert ok(run_cli("dumps", "-o", tmp_path / "out", stdin=b'{"a": 1}')) == ""
    assert (tmp_path / "out").read_bytes() == b"a=1;\n"
    assert ok(run_cli("loads", "--lines", "-o", tmp_path / "out", stdin=b"")) == ""
    assert (tmp_path / "out").read_bytes() == b""  # a run that writes nothing still replaces the old output
    (tmp_path / "out").write_bytes(b"a=[1}")
    stderr = failure(run_cli("check", tmp_path / "out"), 1)
    assert stderr.startswith(f"vardelquin: error: {tmp_path / 'out'}:1:5: Unexpected '}}' in list at pos 4\n")


@pytest.mark.parametrize("data, kind, wrapped", [
    (b"[1, 2]", "array", "data=[1|2];"), (b'"x"', "string", "data=x;"), (b"3", "number", "data=3;"),
    (b"null", "null", "data=null;"), (b"true", "boolean", "data=true;"), (b'{"a": 1}', None, "a=1;"),
])
def test_top_level_kinds_and_wrap(data, kind, wrapped):
    if kind is not None:
        message = failure(run_cli("dumps", stdin=data), 1)
        assert f"<stdin>: the top level is a JSON {kind}, not an object (use --wrap KEY" in message
    assert ok(run_cli("dumps", "--wrap", "data", stdin=data)) == wrapped + "\n"


@pytest.mark.parametrize("command, args, data, message", [
    ("dumps", [], b'{"a": ', "<stdin>: not a JSON document"), ("dumps", [], b'{"a": 1}\xff', "not a JSON document"),
    ("dumps", [], b'{"n": 9223372036854775808}', "<stdin>: int too big to convert"),
    ("dumps", [], b'{"s": "\\ud800"}', "surrogates not allowed"),
    ("dumps", [], b'{"a": ' + b"[" * 1001 + b"]" * 1001 + b"}", "<stdin>: Maximum nesting depth of 1000 exceeded"),
    ("dumps", ["/no/such.json"], b"", "cannot read /no/such.json"), ("loads", [], b"a=\xff;", "not UTF-8 text"),
])
def test_bad_input_is_status_1(command, args, data, message):
    assert message in failure(run_cli(command, *args, stdin=data), 1)


@pytest.mark.parametrize("text, expected", [
    (PERSON_TEXT.encode(), json.loads(PERSON.read_bytes())), (b"", {}),
    (b"a=nan;b=inf;c=-inf;d=-0.0", {"a": math.nan, "b": math.inf, "c": -math.inf, "d": -0.0}),
    ("k=日本;=1;b=2;".encode(), {"k": "日本", "": 1, "b": 2}),
    (b"a=1;\r\n", {"a": 1}), (b"a=x\n", {"a": "x"}), (b"a=x\r\ny\r;b=\n;", {"a": "x\r\ny\r", "b": "\n"}),
])
def test_loads_and_check(text, expected):
    out = ok(run_cli("loads", stdin=text))
    assert out.endswith("\n") and out.count("\n") == 1 and canon(json.loads(out)) == canon(expected)
    assert ok(run_cli("check", stdin=text)) == ""


def test_loads_json_forms_and_line_breaks_through_a_pipe():
    out = ok(run_cli("loads", "--indent", "2", stdin="a=[1|2];b=é;c=nan".encode()))
    assert out == '{\n  "a": [\n    1,\n    2\n  ],\n  "b": "é",\n  "c": NaN\n}\n'
    assert ok(run_cli("loads", "--ascii", stdin="b=é".encode())) == '{"b": "\\u00e9"}\n'
    document = {"s": "one\r\ntwo\rthree\n", "t": ["\n", "\r"]}
    text = ok(run_cli("dumps", stdin=json.dumps(document).encode()))
    assert json.loads(ok(run_cli("loads", stdin=text.encode()))) == document


# Text, message, line:column (in characters), the line shown (None: cut to 60 characters before the caret).
READER_ERRORS = [
    ("a=[1}2]", "Unexpected '}' in list at pos 4", "1:5", "a=[1}2]"),
    ("é={x}", "Expected '=' but got '}' at pos 5", "1:5", "é={x}"),
    ("x=日本語;y={k=1]", "Unexpected ']' in object at pos 18", "1:13", "x=日本語;y={k=1]"),
    ("a=1;\nb=[[1]\n]", "Unexpected '\\n' in list at pos 11", "2:7", "b=[[1]"),
    ("\tk={a=1;b}", "Expected '=' but got '}' at pos 9", "1:10", "\tk={a=1;b}"),
    ("a=1;\nb={x=1", "Unterminated object", "2:7", "b={x=1"),
    ("a", "Expected '=' but got EOF", "1:2", "a"),
    ("a=" + "[" * 1001, "Maximum nesting depth of 1000 exceeded at pos 1002", "1:1003", None),
    ("a=[" + "1|" * 100 + "}" + "2" * 100 + "]", "Unexpected '}' in list at pos 203", "1:204", None),
]


@pytest.mark.parametrize("command, text, message, where, line",
                         [("check" if i % 2 else "loads", *row) for i, row in enumerate(READER_ERRORS)])
def test_reader_error_shows_caret(command, text, message, where, line):
    first, shown, caret = failure(run_cli(command, stdin=text.encode()), 1).rstrip("\n").split("\n")
    assert first == f"vardelquin: error: <stdin>:{where}: {message}"
    column = int(where.split(":")[1]) - 1
    if line is None:
        line, column = shown[4:], 63
        assert line.startswith("...") and line.endswith(("...", "[")) and len(line) < 90
    assert shown == "    " + line
    assert caret == "    " + "".join("\t" if c == "\t" else " " for c in line[:column]) + "^"


@pytest.mark.parametrize("options, document, text", [  # together, every format option
    (["--field-sep", ",", "--kv-sep", ":"], {"a": "b=c", "o": {"x": 1, "y": 2}}, "a:b=c,o:{x:1,y:2},"),
    (["--list-open", "(", "--list-close", ")", "--list-sep", ",", "--obj-open", "<", "--obj-close", ">"],
     {"l": [1, [2, "(x)"]], "o": {"k": "{}"}}, "l=(1,(2,\\(x\\)));o=<k={}>;"),
    (["--escape", "%", "--null-str", "nil", "--true-str", "yes", "--false-str", "no"],
     {"k": "a;b\\50%", "n": None, "t": True, "f": False, "s": "null"}, "k=a%;b\\50%%;n=nil;t=yes;f=no;s=null;"),
    (["--field-sep=\t", "--kv-sep", "-"], {"a": "x-y", "b": [1]}, "a-x\\-y\tb-[1]\t"),
])
def test_dialect_both_ways(options, document, text):
    assert ok(run_cli("dumps", *options, stdin=json.dumps(document).encode())) == text + "\n"
    assert json.loads(ok(run_cli("loads", *options, stdin=text.encode()))) == document


@pytest.mark.parametrize("command, options, message", [
    ("dumps", ["--kv-sep", ";"], "Delimiter conflict: 'field_sep' and 'kv_sep' are both ';'"),
    ("loads", ["--field-sep", "ab"], "expected a string of length 1"),
    ("dumps", ["--null-str="], "'null_str' must not be empty"),
    ("check", ["--escape", "é"], "'escape' must be an ASCII character, got 'é'"),
    ("loads", ["--true-str", "false"], "true_str and false_str must be different"),
    ("check", ["--false-str", "n;o"], "'false_str' contains delimiter character ';'"),
])
def test_invalid_configuration_is_status_2(command, options, message, tmp_path):
    stderr = failure(run_cli(command, *options, stdin=b'{"a": 1}', cwd=tmp_path), 2)
    assert f"vardelquin {command}: error: {message}\n" in stderr and list(tmp_path.iterdir()) == []


def test_deepest_accepted_nesting_round_trips():
    nested = "[" * 1000 + "]" * 1000
    text = ok(run_cli("dumps", stdin=f'{{"a": {nested}}}'.encode()))
    indented = ok(run_cli("loads", "--indent", "1", stdin=text.encode()))
    assert text == f"a={nested};\n" and ok(run_cli("dumps", stdin=indented.encode())) == text


def read_back(value):  # after text and back, strings that spell keywords or numbers are typed; [""] is []
    if isinstance(value, dict):
        return {key: read_back(item) for key, item in value.items()}
    if isinstance(value, list):
        return [] if value == [""] else [read_back(item) for item in value]
    return model.decode_scalar(value, model.DEFAULTS) if isinstance(value, str) else value


@pytest.mark.skipif(not CORPUS_FILES, reason="the corpus is not present next to the repository")
@pytest.mark.parametrize("path", CORPUS_FILES, ids=lambda p: p.name)
def test_corpus_round_trip(path, tmp_path):
    original = json.loads(path.read_bytes())
    ok(run_cli("dumps", "--wrap", "data", path, "-o", tmp_path / "doc.txt"))
    assert ok(run_cli("check", tmp_path / "doc.txt")) == ""
    result = json.loads(ok(run_cli("loads", tmp_path / "doc.txt")))
    expected = read_back(original if isinstance(original, dict) else {"data": original})
    assert canon(result) == canon(expected) and list(result) == list(expected)  # top-level order kept
