"""A structlog processor that renders the event dict as one line of vardelquin text.

structlog is not imported: a processor is any callable of (logger,
method_name, event_dict), so this module works, and imports, without it.
"""

from __future__ import annotations

import sys
import traceback
from typing import Any, MutableMapping, Optional

from vardelquin import FormatConfig

from vardelquin_logging.fit import lines_of
from vardelquin_logging.one_line import one_line, private_config
from vardelquin_logging.placeholder import is_data_failure, unprintable_exception
from vardelquin_logging.values import Default

__all__ = ["Renderer"]


class Renderer:
    """The last processor of a structlog chain: the event dict as one line of text.

    Keys are written in the event dict's order. An ``exc_info`` entry (True,
    an exception or a sys.exc_info() tuple) is replaced by ``exception``,
    the traceback's text, as structlog's format_exc_info processor does, so
    a traceback is never lost when that processor is not in the chain.

    ``config`` is the FormatConfig of the text (copied when the renderer is
    made; a configuration holding a line break is refused with ValueError).
    Line breaks, values of other types (``default`` converting those of
    types that ``Formatter`` does not convert itself, as there) and values
    that cannot be written (placeholders) are handled as by ``Formatter``;
    a traceback that cannot be formatted is written as
    ``<unprintable TYPE: ERROR>``.
    """

    def __init__(self, *, config: Optional[FormatConfig] = None, default: Optional[Default] = None) -> None:
        self._config = private_config(config)
        self._default = default

    def __call__(self, logger: Any, method_name: str, event_dict: MutableMapping[str, Any]) -> str:
        fields = dict(event_dict)
        if "exc_info" in fields:
            exc_info = fields.pop("exc_info")
            try:
                text = _exception_text(exc_info)
            except BaseException as error:
                if not is_data_failure(error):
                    raise
                text = unprintable_exception(exc_info, error)
            if text is not None:
                fields["exception"] = lines_of(text)
        return one_line(fields, self._config, self._default)


def _exception_text(exc_info: Any) -> Optional[str]:
    if isinstance(exc_info, BaseException):
        exc_info = (type(exc_info), exc_info, exc_info.__traceback__)
    elif not isinstance(exc_info, tuple):
        exc_info = sys.exc_info() if exc_info else (None, None, None)
    if exc_info[0] is None:
        return None
    return "".join(traceback.format_exception(*exc_info)).rstrip("\n")
