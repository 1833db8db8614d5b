"""Values of common types made into the data that a line holds: the str, numbers, lists and dicts dumps writes.

vardelquin.dumps writes any other object as its str(), which serves few
types well: a datetime gets a space where ISO 8601 has "T", an Enum reads
"Color.RED", a dataclass its escaped repr. So before a value is written:

    an object with __structlog__()   what that returns (structlog's hook)
    datetime, date, time             ISO 8601: 2026-12-08T03:04:05+00:00
    Enum                             its value
    UUID, Decimal, pathlib paths     their str(): canonical UUID, the digits, the path
    bytes, bytearray                 "hex:" and two hex digits a byte: b"\\x00\\xff" as hex:00ff
    set, frozenset                   a list, sorted when the items sort
    dataclass instance               a dict of the fields its repr shows
    named tuple                      a dict of its fields
    anything else                    default(value) when a default is given,
                                     else (or when default raises) its str()

What a conversion returns is converted again (an Enum whose value is a
UUID), a bounded number of times. A conversion that raises gives the
placeholder <unprintable TYPE: ERROR>. Other tuples stay their str(), as
dumps writes them.
"""

from __future__ import annotations

import dataclasses
import enum
import uuid
from datetime import date, datetime, time
from decimal import Decimal
from pathlib import PurePath
from typing import Any, Callable, Dict, Iterable, List, Optional

from vardelquin_logging import placeholder

__all__ = ["Default", "SCALARS", "WRITTEN", "converted", "text_of", "written_as_is"]

Default = Callable[[Any], Any]
# What dumps writes as it is; subclasses too, as their base type.
WRITTEN = (str, int, float, type(None), list, dict)
SCALARS = frozenset({str, int, float, bool, type(None)})
# Deeper lists and dicts go to the careful walk, which bounds its depth itself.
_CHECKED_DEPTH = 16
# A hook may return another object that needs converting, even itself.
_STEPS = 8


def written_as_is(values: Iterable[Any], depth: int = 0) -> bool:
    """Whether values, and the lists and dicts among them, hold only str, int, float, bool, None, list and dict.

    Exact types only: the quick test for a record that needs no conversion.
    """
    # Most records hold only scalars: a test whose loop runs in C.
    if SCALARS.issuperset(map(type, values)):
        return True
    for value in values:
        kind = type(value)
        if kind in SCALARS:
            continue
        if kind is list:
            if depth == _CHECKED_DEPTH or not written_as_is(value, depth + 1):
                return False
        elif kind is dict:
            if depth == _CHECKED_DEPTH or not written_as_is(value.values(), depth + 1):
                return False
        else:
            return False
    return True


def converted(value: Any, default: Optional[Default]) -> Any:
    """value as one that dumps writes as intended (see above): a str, number, None, or a new list or dict.

    Never raises on the data. type() and issubclass() decide, never
    isinstance(), which could run the value's own code (__class__).
    """
    for _ in range(_STEPS):
        cls = type(value)
        if issubclass(cls, WRITTEN):
            return value
        try:
            if hasattr(cls, "__structlog__"):
                value = value.__structlog__()
                continue
            found = _built_in(value, cls)
            if found is not _NONE:
                value = found
                continue
        except BaseException as error:
            if not placeholder.is_data_failure(error):
                raise
            return placeholder.unprintable(value, error)
        if default is None:
            break
        try:
            value, default = default(value), None  # called once: what it returns is not given back to it
        except BaseException as error:
            if not placeholder.is_data_failure(error):
                raise
            break
    return text_of(value)


_NONE: Any = object()


def _built_in(value: Any, cls: type) -> Any:
    """The value's conversion when its type is one of the common types above, else _NONE."""
    if issubclass(cls, (datetime, date, time)):
        return value.isoformat()
    if issubclass(cls, enum.Enum):
        return value.value
    if issubclass(cls, (uuid.UUID, Decimal, PurePath)):
        return text_of(value)
    if issubclass(cls, (bytes, bytearray)):
        return "hex:" + value.hex()
    if issubclass(cls, (set, frozenset)):
        return _sorted(value)
    if dataclasses.is_dataclass(cls):
        fields: Dict[str, Any] = {field.name: getattr(value, field.name) for field in dataclasses.fields(cls)
                                  if field.repr}
        return fields
    if issubclass(cls, tuple) and hasattr(cls, "_fields"):
        return dict(zip(cls._fields, tuple.__iter__(value)))
    return _NONE


def _sorted(items: Any) -> List[Any]:
    """A set's items as a list, sorted when they sort, so that the same set gives the same line."""
    listed = list(items)
    try:
        return sorted(listed)
    except Exception:  # items that do not compare (1 and "a"), or a comparison that raises
        return listed


def text_of(value: Any) -> str:
    """str(value), or the placeholder when it cannot be made."""
    try:
        return str.__str__(str(value))
    except BaseException as error:
        if not placeholder.is_data_failure(error):
            raise
        return placeholder.unprintable(value, error)
