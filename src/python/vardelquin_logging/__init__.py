"""Log records as one line of vardelquin text each, from logging and from structlog.

    import logging, vardelquin_logging
    handler = logging.FileHandler("app.log", encoding="utf-8")
    handler.setFormatter(vardelquin_logging.Formatter())
    logging.getLogger().addHandler(handler)

    structlog.configure(processors=[..., vardelquin_logging.Renderer()])

One record is always one line: a str value (at any depth: the message,
the traceback, an extra field, a list item) that holds a line feed "\\n"
or a carriage return "\\r" is written as the list of its lines, split at
every "\\n"; a line that still holds a "\\r" (the first half of "\\r\\n", or
a lone "\\r") is itself written as the list of its pieces between the
"\\r"s. "\\n".join(lines) gives back a text that held only "\\n";
join_lines gives back any text exactly. Other characters that
str.splitlines() breaks at ("\\v", "\\f", "\\x1c"-"\\x1e", "\\x85",
"\\u2028", "\\u2029") are kept: no line reader ends a line there. A key
cannot become a list, so a key's "\\n" and "\\r" are written as the two
characters "\\\\n" and "\\\\r".

Values of common types are written as data (see values.py): datetime,
date and time in ISO 8601, an Enum as its value, bytes as "hex:" and
their hex digits, a set as a list, a dataclass or named tuple as a dict.

A log call never fails on its data: a value that cannot be written
becomes a placeholder that names what happened and the value's type,
and the rest of the record is written as usual:

    <unprintable Bad: ValueError>   its str() raised ValueError (a str()
                                    returning no str raises TypeError); so
                                    too a key, a message whose arguments do
                                    not fit it, a traceback that cannot be
                                    formatted
    <cycle dict>                    a list or dict inside itself
    <too deep list>                 nested deeper than vardelquin.dumps
                                    writes (1000 levels)
    <changed while written dict>    changed while it was being copied

A list or dict that changes while it is written (through a value's str(),
or another thread meanwhile) is written as its copy holds it.
KeyboardInterrupt, SystemExit and other exceptions that are not Exceptions
pass through.

structlog is optional: this package never imports it.
"""

from vardelquin_logging.formatter import DEFAULT_FIELDS, Formatter
from vardelquin_logging.one_line import join_lines
from vardelquin_logging.renderer import Renderer

__all__ = ["DEFAULT_FIELDS", "Formatter", "Renderer", "join_lines"]
