"""One record, one line: the rule shared by the Formatter and the Renderer.

A str value that holds a line break is written as the list of its lines,
so that a log file keeps one record per line and every line reader (the
tool's --lines, a file iterated in Python, grep, tail -f) sees whole
records. Line feed and carriage return are the line breaks: the text is
split at every "\\n"; a line that still holds a "\\r" (the first half of a
"\\r\\n" pair, or a lone carriage return) becomes the list of its pieces
between carriage returns. join_lines undoes both steps exactly.
"""

from __future__ import annotations

from typing import Any, Dict, Optional, Sequence, Union

import vardelquin
from vardelquin import FormatConfig
from vardelquin_fields import FIELDS

from vardelquin_logging.fit import fit, lines_of
from vardelquin_logging.placeholder import is_data_failure
from vardelquin_logging.values import Default, written_as_is

__all__ = ["join_lines", "one_line", "private_config"]


_DEFAULT_CONFIG = FormatConfig()


def private_config(config: Optional[FormatConfig]) -> Optional[FormatConfig]:
    """A copy of config that its owner's later changes cannot reach, checked for one-line use.

    Raises ValueError when a delimiter or keyword text holds a line break:
    every record written with it would span lines.
    """
    if config is None:
        return None
    fields = {field: getattr(config, field) for field in FIELDS}
    for field, value in fields.items():
        if "\n" in value or "\r" in value:
            raise ValueError(f"{field} {value!r} holds a line break, so no record written with it fits on one line")
    return FormatConfig(**fields)


def one_line(fields: Dict[str, Any], config: Optional[FormatConfig], default: Optional[Default] = None,
             plain: bool = False) -> str:
    """The text of fields, as vardelquin.dumps writes it, that holds neither "\\n" nor "\\r".

    Values of other types than str, int, float, bool, None, list and dict
    are converted as values.py describes, with default for the types it
    does not know; plain says that the caller found only the types dumps
    writes as they are (see values.written_as_is). Never fails on the data: what dumps refuses or cannot
    finish (a key that is not a str, an int beyond 64 bits, a lone
    surrogate, a str() that raises, a cycle, nesting too deep, a dict
    changed while it is written) is written as fit() makes it, with
    placeholders where it must.
    """
    try:
        if plain or written_as_is(fields.values()):
            text = vardelquin.dumps(fields, config)
            if "\n" not in text and "\r" not in text:
                return text
            # Most line breaks are in a str at the top (a message of several
            # lines): split those and try once more before the careful walk.
            split = {key: lines_of(value) if type(value) is str else value for key, value in fields.items()}
            text = vardelquin.dumps(split, config)
            if "\n" not in text and "\r" not in text:
                return text
    except BaseException as error:
        if not is_data_failure(error):
            raise
    # The slow path, only for the rare record that needs it; its result
    # is plain data that dumps always writes.
    return vardelquin.dumps(fit(fields, default), config)


def join_lines(value: Union[str, Sequence[Any]], config: Optional[FormatConfig] = None) -> str:
    """The original text of a value that the one-line rule wrote as a list of lines.

    A str is returned as it is. In a list, a line that is itself a list (its
    text held carriage returns) is joined with "\\r", then the lines with
    "\\n". A line that vardelquin.loads read back as a number or keyword
    (a line "42" or "null") is spelled as the text writes it (with config's
    keyword texts), which is the original unless it was spelled differently
    ("007" reads back as 7).
    """
    if isinstance(value, str):
        return value
    return "\n".join("\r".join(_spelled(piece, config) for piece in line) if isinstance(line, list)
                     else _spelled(line, config) for line in value)


def _spelled(scalar: Any, config: Optional[FormatConfig]) -> str:
    if isinstance(scalar, str):
        return scalar
    if scalar is None or isinstance(scalar, bool):
        texts = config or _DEFAULT_CONFIG
        return str(texts.null_str if scalar is None else texts.true_str if scalar else texts.false_str)
    # A number as the text spells it; the default delimiters never escape one.
    return vardelquin.dumps({"": scalar})[1:-1]
