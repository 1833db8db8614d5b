"""One document or record each way, with failures as InputError messages that say where."""

from __future__ import annotations

import json
from typing import Any, Optional, Union

import vardelquin

from vardelquin_cli import hints, keypath
from vardelquin_cli.positions import describe_position
from vardelquin_cli.streams import InputError


def parse_json(data: Union[str, bytes], where: str) -> Any:
    try:
        return json.loads(data)
    except (ValueError, RecursionError) as error:  # JSONDecodeError and UnicodeDecodeError are ValueErrors
        raise InputError(f"{where}: not a JSON document: {error}") from None


def json_kind(value: Any) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, (int, float)):
        return "number"
    if isinstance(value, str):
        return "string"
    return "array"


def to_text(document: Any, where: str, wrap: Optional[str], config: vardelquin.FormatConfig) -> str:
    """The text of a JSON document, whose top level must be an object unless wrap names a key."""
    if not isinstance(document, dict):
        if wrap is None:
            raise InputError(
                f"{where}: the top level is a JSON {json_kind(document)}, not an object "
                "(use --wrap KEY to write it under a key)"
            )
        document = {wrap: document}
    try:
        return vardelquin.dumps(document, config)
    except OverflowError as error:
        path = keypath.find(document, keypath.int_out_of_range)
        raise InputError(f"{where}: {error}: {path} (integers must fit in 64 bits)" if path
                         else f"{where}: {error}") from None
    except UnicodeEncodeError as error:
        path = keypath.find(document, keypath.unencodable)
        raise InputError(f"{where}: {error}" + (f": {path}" if path else "")) from None
    except (TypeError, ValueError, RecursionError) as error:
        raise InputError(f"{where}: {error}") from None


def to_record(text: str, name: str, config: vardelquin.FormatConfig, line: Optional[int] = None) -> dict[str, Any]:
    """The dictionary of a text; a reader error is shown with its line, column and a caret.

    line is the text's line number in a line stream; None when the text is a
    whole input, whose own line breaks then count.
    """
    try:
        return vardelquin.loads(text, config)
    except ValueError as error:
        message = str(error)
        # Every reader failure carries its byte offset; a ValueError without
        # one (an unencodable character, say) is placed at the end.
        line_in_text, column, display = describe_position(text, getattr(error, "pos", None))
        hint = hints.json_instead_of_text(text, lines=line is not None)
        raise InputError(f"{name}:{line or line_in_text}:{column}: {message}\n{display}", hint) from None
