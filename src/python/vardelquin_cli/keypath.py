"""The key path of the first value in a document that a predicate picks, for messages.

dumps reports what went wrong but not where; the tool walks the document
again after a failure (never on the fast path) to name the place, as
`$.a.b[3]` or `$["key with spaces"]`.
"""

from __future__ import annotations

import json
import re
from typing import Any, Callable, Optional, Union

_IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")
INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1

Step = Union[str, int]


def format_path(steps: list[Step]) -> str:
    parts = ["$"]
    for step in steps:
        if isinstance(step, int):
            parts.append(f"[{step}]")
        elif _IDENTIFIER.match(step):
            parts.append(f".{step}")
        else:  # json.dumps escapes line breaks and quotes, so the path stays on one line
            parts.append(f"[{json.dumps(step, ensure_ascii=False)}]")
    return "".join(parts)


def find(document: Any, bad: Callable[[Any], bool]) -> Optional[str]:
    """The path of the first key or value (in document order) for which bad() is true, or None.

    A key is tested as well as its value; its path is that of its value.
    Iterative, so that any nesting the JSON reader produced can be walked.
    """
    stack: list[tuple[list[Step], Any]] = [([], document)]
    while stack:
        steps, value = stack.pop()
        if isinstance(value, dict):
            children: list[tuple[list[Step], Any]] = []
            for key, item in value.items():
                if isinstance(key, str) and bad(key):
                    return format_path(steps + [key])
                children.append((steps + [key], item))
            stack.extend(reversed(children))
        elif isinstance(value, list):
            stack.extend(reversed([(steps + [i], item) for i, item in enumerate(value)]))
        elif bad(value):
            return format_path(steps)
    return None


def int_out_of_range(value: Any) -> bool:
    return isinstance(value, int) and not isinstance(value, bool) and not INT64_MIN <= value <= INT64_MAX


def unencodable(value: Any) -> bool:
    if not isinstance(value, str):
        return False
    try:
        value.encode("utf-8")
    except UnicodeEncodeError:
        return True
    return False


def has_line_break(value: Any) -> bool:
    return isinstance(value, str) and ("\n" in value or "\r" in value)
