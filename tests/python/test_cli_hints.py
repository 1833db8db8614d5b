"""Hints for likely mistakes: a second line on standard error, with the output and status unchanged."""
import codecs

import pytest

from clirun import run_cli

JSON_LINES = b'{"id": 1}\n{"id": 2}\n'
GIVE_LINES = "starts with a line break: if the input holds one text per line, give --lines"


def unmarked_hint(name):
    return (f"the input looks like {name} without a byte-order mark, and was read as UTF-8: "
            f"convert it first (iconv -f {name} -t UTF-8)")


@pytest.mark.parametrize("args, data, status, out, hint", [
    # A log read as one text: the second record's keys start with its line break.
    (["loads"], b"id=1;\nid=2;\n", 0, '{"id": 1, "\\nid": 2}\n',
     f'the key "\\nid" {GIVE_LINES}'),
    (["check"], b"id=1;\r\n" + b"k" * 50 + b"=2;\r\n", 0, "",
     f'the key "\\r\\n{"k" * 38}"... {GIVE_LINES}'),
    (["loads"], b'{"a": 1, "b": [1, 2]}\n', 1, "",
     "the input looks like JSON: 'vardelquin dumps' turns JSON into text"),
    (["check"], JSON_LINES, 1, "", "the input looks like JSON Lines: 'vardelquin dumps --lines' turns them into texts"),
    (["loads", "--lines"], JSON_LINES, 1, "",
     "the input looks like JSON: 'vardelquin dumps --lines' turns JSON into text"),
    (["dumps"], JSON_LINES, 1, "", "the input looks like JSON Lines, one document per line: give --lines"),
    (["loads"], "a=1;".encode("utf-16-le"), 1, "", unmarked_hint("UTF-16LE")),
    (["check"], "a=1;".encode("utf-16-be"), 0, "", unmarked_hint("UTF-16BE")),  # NUL characters are valid
    (["loads", "--lines"], "a=1;\n".encode("utf-32-le"), 1, "", unmarked_hint("UTF-32LE")),
])
def test_hint_after_the_result(args, data, status, out, hint):
    result = run_cli(*args, stdin=data)
    assert (result.returncode, result.stdout.decode()) == (status, out)
    stderr = result.stderr.decode()
    assert stderr.endswith(f"vardelquin: hint: {hint}\n") and stderr.count("vardelquin: ") == 1 + status


@pytest.mark.parametrize("args, data", [
    (["loads"], b"{a=1;"),  # starts like JSON, is a text
    (["loads"], b"a=x\r\ny;b=\n;"),  # line breaks inside values only
    (["check"], codecs.BOM_UTF16_BE + "a=1;".encode("utf-16-be")),  # its mark says what it is
    (["loads", "--lines"], codecs.BOM_UTF32_LE + "a=1;\n".encode("utf-32-le")),
    (["dumps"], b'{"a": 1}\n\n'),
])
def test_no_hint_without_a_likely_mistake(args, data):
    result = run_cli(*args, stdin=data)
    assert "hint:" not in result.stderr.decode()
