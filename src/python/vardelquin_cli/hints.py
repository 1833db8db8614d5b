"""Hints for the likely mistakes behind a surprising result: a wrong command, a missing --lines, a wrong encoding.

A hint only adds a line to standard error: the output and the exit status
stay what they would be without it. Each test is cheap or runs only on a
failure, so a correct run pays next to nothing for them.
"""

from __future__ import annotations

import json
import re
from typing import Any, Optional

from vardelquin_cli.streams import LINE_BREAKS, unmarked_wide_encoding

_SHOWN_KEY = 40  # characters of a key quoted in a hint
_JSON_START = re.compile(r"\s*[{[]")
_NON_BLANK = re.compile(r"\S")


def _is_json(text: str) -> bool:
    try:
        json.loads(text)
    except (ValueError, RecursionError):
        return False
    return True


def _looks_like_json_lines(text: str) -> bool:
    """More than one line, the first of which is a JSON object or array by itself."""
    end = text.find("\n")
    first = text[:end] if end >= 0 else ""
    return bool(_JSON_START.match(first)) and _NON_BLANK.search(text, end + 1) is not None and _is_json(first)


def json_instead_of_text(text: str, lines: bool = False) -> Optional[str]:
    """For loads and check: the text (a line of it with --lines) is JSON, or JSON Lines, rather than a text."""
    if not _JSON_START.match(text):  # every JSON object or array starts so; most texts do not
        return None
    if _is_json(text):
        command = "vardelquin dumps --lines" if lines else "vardelquin dumps"
        return f"the input looks like JSON: '{command}' turns JSON into text"
    if _looks_like_json_lines(text):
        return "the input looks like JSON Lines: 'vardelquin dumps --lines' turns them into texts"
    return None


def json_lines_without_lines(data: bytes) -> Optional[str]:
    """For a whole-document dumps that failed: the input holds one JSON document per line."""
    if _looks_like_json_lines(data.decode("utf-8-sig", errors="replace")):
        return "the input looks like JSON Lines, one document per line: give --lines"
    return None


def lines_without_lines(text: str, record: dict[str, Any]) -> Optional[str]:
    """For a whole-document loads or check: a key starting with a line break, the mark of texts one per line."""
    if not any(brk in text for brk in LINE_BREAKS):  # a scan of the text, quicker than a look at every key
        return None
    for key in record:
        if key.startswith(LINE_BREAKS):
            shown = json.dumps(key[:_SHOWN_KEY]) + ("..." if len(key) > _SHOWN_KEY else "")
            return f"the key {shown} starts with a line break: if the input holds one text per line, give --lines"
    return None


def wide_without_mark(head: bytes) -> Optional[str]:
    """For loads and check: input that looks like UTF-16 or UTF-32 without a byte-order mark, read as UTF-8."""
    encoding = unmarked_wide_encoding(head)
    if encoding is None:
        return None
    return (f"the input looks like {encoding} without a byte-order mark, and was read as UTF-8: "
            f"convert it first (iconv -f {encoding} -t UTF-8)")
