"""A logging.Formatter that writes each record as one line of vardelquin text."""

from __future__ import annotations

import logging
import re
import string
import time
from typing import Any, Dict, FrozenSet, List, Literal, Mapping, Optional, Tuple, Union

from vardelquin import FormatConfig

from vardelquin_logging.iso_time import IsoClock
from vardelquin_logging.fit import fit, lines_of
from vardelquin_logging.one_line import one_line, private_config
from vardelquin_logging.placeholder import is_data_failure, unprintable, unprintable_exception
from vardelquin_logging.values import SCALARS, Default, written_as_is

__all__ = ["DEFAULT_FIELDS", "Formatter"]

# LogRecord attribute (or "message", "asctime") -> key in the text, in the
# order written. exc_info and stack_info always come last, after the extra
# fields, and only when the record has them.
DEFAULT_FIELDS: Mapping[str, str] = {
    "created": "time",
    "levelname": "level",
    "name": "logger",
    "message": "message",
    "exc_info": "exception",
    "stack_info": "stack",
}

# What every LogRecord carries (taskName only from Python 3.12 on); anything
# else in a record's __dict__ came through extra= or a filter.
_FIXED = list(logging.LogRecord("", 0, "", 0, "", (), None).__dict__)
_FIXED_COUNT = len(_FIXED)
_RECORD_ATTRIBUTES = frozenset(_FIXED) | {"message", "asctime"}
_GONE: Any = object()
_TRAILING = ("exc_info", "stack_info")

# "%(name)s" names an attribute; "%%" is a literal percent sign.
_PERCENT_FIELD = re.compile(r"%(?:%|\(([^)]*)\))")


class Formatter(logging.Formatter):
    """Formats each log record as one line of vardelquin text.

    By default a line holds ``time`` (the record's creation time, ISO 8601
    with milliseconds and the UTC offset: ``2026-12-07T19:41:50.123+01:00``),
    ``level``, ``logger`` and ``message``, then every field given through
    ``extra=`` (an extra field named like one of those keys is written as
    ``extra.NAME``), then ``exception`` (the traceback) and ``stack`` when
    the record has them.

    It takes the standard library's Formatter arguments, so that
    ``logging.config.fileConfig`` and ``dictConfig`` can make it:

    ``fmt`` names the attributes to write, as ``%(asctime)s %(levelname)s
    %(message)s`` (``style`` ``"%"``, the default), ``{asctime}
    {levelname}`` (``"{"``) or ``$asctime $levelname`` (``"$"``): the named
    attributes in that order, each under its own name (``created`` as the
    ISO time), then the extra fields not named, then ``exc_info`` (the
    traceback) and ``stack_info`` when the record has them, as the standard
    library always adds them. The rest of ``fmt`` (literal text, widths,
    conversions) is not written. A name that is not a record attribute is
    an extra field, written in its place; one the record lacks is written
    as its value in ``defaults`` if it has one, else as null. ``validate``
    checks ``fmt`` as the standard library does (ValueError when it names
    no attribute); an empty ``fmt`` is the default line. ``datefmt`` is the
    time.strftime format of ``asctime``; ``created``, and so ``time``,
    stays ISO 8601 so that every line's time reads and sorts the same.

    ``fields`` (also accepted as the first positional argument, a mapping)
    chooses the record's attributes and their keys instead: a mapping of
    attribute name (any LogRecord attribute, ``message`` or ``asctime``) to
    key, written in its order; ``created`` is written as the ISO time.
    Giving both ``fmt`` and ``fields`` is a TypeError.
    ``config`` is the FormatConfig of the text (copied when the formatter is
    made; a configuration holding a line break is refused with ValueError).
    ``utc`` writes the time, and ``asctime``, in UTC instead of local time.
    ``static_fields`` (a mapping) is written on every line after the
    record's attributes and before the extra fields, as it was when the
    formatter was made. ``rename_fields`` maps a record attribute (as
    ``fields`` or ``fmt`` name it, ``exc_info`` and ``stack_info`` too) or
    an extra field's name to the key it is written under; an extra field
    renamed to a key already in the line is written as ``extra.KEY``. Two
    equal keys among the attributes and static fields raise ValueError.
    ``default`` converts values of the types not listed below: it is
    called with the value, and what it returns is written (converted in
    turn); if it raises, the value's ``str()`` is written.

    A str value holding a line break (the message and traceback included)
    is written as the list of its lines; see ``join_lines``. Values of
    common types are written as data, at any depth: datetime, date and
    time in ISO 8601, an Enum as its value, UUID, Decimal and paths as
    their str(), bytes as ``hex:`` and their hex digits, a set as a list
    (sorted when its items sort), a dataclass (the fields its repr shows)
    or named tuple as a dict, an object with ``__structlog__()`` as what
    that returns; any other type (a tuple too) as its ``str()``, as
    ``vardelquin.dumps`` writes it. Keys that are not str are written as
    their ``str()``, and an int beyond 64 bits as its digits. A value that cannot be written at all (its str() raises, a
    list or dict inside itself or nested too deeply, a message whose
    arguments do not fit it, a traceback that cannot be formatted) is
    written as a placeholder such as ``<unprintable Bad: ValueError>``
    (see the package's documentation); the record is never lost.
    """

    def __init__(self, fmt: Union[str, Mapping[str, str], None] = None, datefmt: Optional[str] = None,
                 style: Literal["%", "{", "$"] = "%", validate: bool = True, *,
                 defaults: Optional[Mapping[str, Any]] = None, fields: Optional[Mapping[str, str]] = None,
                 config: Optional[FormatConfig] = None, utc: bool = False,
                 static_fields: Optional[Mapping[str, Any]] = None, rename_fields: Optional[Mapping[str, str]] = None,
                 default: Optional[Default] = None) -> None:
        if fmt is not None and not isinstance(fmt, str):  # Formatter(fields), as before fmt came first
            if fields is not None:
                raise TypeError("fields given twice: as the first argument and as fields=")
            fields, fmt = fmt, None
        if fmt and fields is not None:
            raise TypeError("give fmt or fields, not both: each chooses the attributes written")
        # defaults is kept here: Python 3.9's Formatter does not take it.
        super().__init__(fmt, datefmt, style, validate)
        self._not_extra: FrozenSet[str] = _RECORD_ATTRIBUTES
        if fmt:
            names = _named_attributes(fmt, style)
            chosen: Dict[str, str] = {name: name for name in names}
            chosen.update(exc_info="exc_info", stack_info="stack_info")
            self._not_extra = _RECORD_ATTRIBUTES | frozenset(names)
        else:
            chosen = dict(DEFAULT_FIELDS if fields is None else fields)
            unknown = [name for name in chosen if name not in _RECORD_ATTRIBUTES]
            if unknown:
                raise ValueError(f"not attributes of a log record: {', '.join(unknown)}")
        self._rename = dict(rename_fields or {})
        if any(not isinstance(key, str) for key in self._rename.values()):
            raise ValueError(f"rename_fields must give str keys: {self._rename!r}")
        chosen = {name: self._rename.get(name, key) for name, key in chosen.items()}
        # Made plain data once: written as they were when the formatter was made.
        self._static = fit(dict(static_fields or {}), default)
        keys = [*chosen.values(), *self._static]
        if any(not isinstance(key, str) for key in keys) or len(set(keys)) != len(keys):
            raise ValueError(f"the keys must be distinct str: {keys!r}")
        given = dict(defaults or {})
        self._leading: List[Tuple[str, str, Any]] = [(a, k, given.get(a)) for a, k in chosen.items()
                                                     if a not in _TRAILING]
        self._exception_key = chosen.get("exc_info")
        self._stack_key = chosen.get("stack_info")
        self._config = private_config(config)
        self._clock = IsoClock(utc)
        self._default = default
        if utc:
            self.converter = time.gmtime

    def format(self, record: logging.LogRecord) -> str:
        # As logging.Formatter does: the message and the traceback text are
        # kept on the record, the traceback for the record's other handlers.
        # Neither may cost the record: what cannot be made is a placeholder.
        try:
            record.message = record.getMessage()
        except BaseException as error:
            if not is_data_failure(error):
                raise
            record.message = unprintable(record.msg, error)
        exception = record.exc_text
        if record.exc_info and not exception:
            try:
                exception = record.exc_text = self.formatException(record.exc_info)
            except BaseException as error:
                if not is_data_failure(error):
                    raise
                exception = unprintable_exception(record.exc_info, error)
        attributes = record.__dict__
        line: Dict[str, Any] = {}
        # Whether every value is a str, int, float, bool or None, or a list
        # or dict of them, so one_line need not look again; the times made
        # here are str.
        plain = True
        for name, key, default in self._leading:
            if name == "created":
                line[key] = self._clock(record.created)
            elif name == "asctime":
                line[key] = record.asctime = self.formatTime(record, self.datefmt)
            else:
                line[key] = value = attributes.get(name, default)
                if plain and type(value) not in SCALARS:
                    plain = written_as_is((value,))
        if self._static:
            line.update(self._static)
        # A snapshot of the names, which another thread may change meanwhile.
        # LogRecord's own attributes come first, in the order __init__ sets
        # them; only what follows them needs a look.
        names = list(attributes)
        if names[:_FIXED_COUNT] == _FIXED:
            del names[:_FIXED_COUNT]
        not_extra, rename = self._not_extra, self._rename
        for name in names:
            if name not in not_extra:
                value = attributes.get(name, _GONE)
                if value is _GONE:  # removed by another thread since the snapshot
                    continue
                if plain and type(value) not in SCALARS:
                    plain = written_as_is((value,))
                if rename:
                    name = rename.get(name, name)
                while name in line:
                    name = "extra." + name
                line[name] = value
        # A traceback or stack is text of many lines: split here, the line
        # is written at the first try.
        if self._exception_key is not None and exception:
            line[self._exception_key] = lines_of(exception) if type(exception) is str else exception
        if self._stack_key is not None and record.stack_info:
            line[self._stack_key] = lines_of(self.formatStack(record.stack_info))
        return one_line(line, self._config, self._default, plain)

    def iso_time(self, created: float) -> str:
        """created (seconds since the epoch) as ISO 8601 with milliseconds and the UTC offset."""
        return self._clock(created)


def _named_attributes(fmt: str, style: str) -> List[str]:
    """The attributes that fmt names, in its order, each once."""
    if style == "{":
        # "{name.attr}" and "{name[0]}" name the attribute "name".
        found = [re.split(r"[.\[]", field, maxsplit=1)[0] for _, field, _, _ in string.Formatter().parse(fmt) if field]
    elif style == "$":
        found = [match.group("named") or match.group("braced") for match in string.Template.pattern.finditer(fmt)
                 if match.group("named") or match.group("braced")]
    else:
        found = [match.group(1) for match in _PERCENT_FIELD.finditer(fmt) if match.group(1) is not None]
    return list(dict.fromkeys(found))

