"""A structlog processor that renders the event dict as one line of vardelquin text.

structlog is not imported: a processor is any callable of (logger,
method_name, event_dict), so this module works, and imports, without it.
"""

from __future__ import annotations

import sys
import traceback
from typing import Any, Dict, MutableMapping, Optional

from vardelquin import FormatConfig

from vardelquin_logging.fit import lines_of
from vardelquin_logging.one_line import one_line, private_config
from vardelquin_logging.placeholder import is_data_failure, unprintable, unprintable_exception
from vardelquin_logging.values import Default

__all__ = ["Renderer"]

# Frames of these packages are the logging machinery, not the caller's code.
_MACHINERY = frozenset({"structlog", "vardelquin_logging", "logging"})


class Renderer:
    """The last processor of a structlog chain: the event dict as one line of text.

    ``event`` comes first, then the other keys in the event dict's order.
    An ``exc_info`` entry (True, an exception or a sys.exc_info() tuple) is
    replaced by ``exception``, the traceback's text, as structlog's
    format_exc_info processor does, so a traceback is never lost when that
    processor is not in the chain; a true ``stack_info`` by ``stack``, the
    text of the caller's stack (the frames outside structlog and logging),
    as structlog's StackInfoRenderer does. The event dict is not changed.

    ``config`` is the FormatConfig of the text (copied when the renderer is
    made; a configuration holding a line break is refused with ValueError).
    Values of other types are converted as by ``Formatter`` (an object with
    ``__structlog__()`` is written as what that returns), ``default``
    converting those of types it does not know. Line breaks and values
    that cannot be written (placeholders) are handled as by ``Formatter``;
    a traceback or stack that cannot be formatted is written as
    ``<unprintable TYPE: ERROR>``.
    """

    def __init__(self, *, config: Optional[FormatConfig] = None, default: Optional[Default] = None) -> None:
        self._config = private_config(config)
        self._default = default

    def __call__(self, logger: Any, method_name: str, event_dict: MutableMapping[str, Any]) -> str:
        # A new dict: the caller's stays as it is, and event moves to the front.
        fields: Dict[str, Any] = {"event": None, **event_dict} if "event" in event_dict else dict(event_dict)
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
        if "stack_info" in fields and fields.pop("stack_info"):
            try:
                stack = _stack_text()
            except BaseException as error:
                if not is_data_failure(error):
                    raise
                stack = unprintable(traceback.StackSummary(), error)
            fields["stack"] = lines_of(stack)
        return one_line(fields, self._config, self._default)


def _exception_text(exc_info: Any) -> Optional[str]:
    if isinstance(exc_info, BaseException):
        exc_info = (type(exc_info), exc_info, exc_info.__traceback__)
    elif not isinstance(exc_info, tuple):
        exc_info = sys.exc_info() if exc_info else (None, None, None)
    if exc_info[0] is None:
        return None
    return "".join(traceback.format_exception(*exc_info)).rstrip("\n")


def _stack_text() -> str:
    """The caller's stack as logging writes a record's stack_info."""
    frame = sys._getframe(1)
    while frame.f_back is not None and str(frame.f_globals.get("__name__", "")).partition(".")[0] in _MACHINERY:
        frame = frame.f_back
    return "Stack (most recent call last):\n" + "".join(traceback.format_stack(frame)).rstrip("\n")
