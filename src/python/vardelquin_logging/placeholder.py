"""The texts written in place of a value that cannot be written, and which failures they stand for.

A log call must not fail on its data, so a value whose text cannot be made
is written as a short placeholder that names what happened and the
value's type:

    <unprintable TYPE: ERROR>       its str() raised ERROR (a str() that
                                    returns a non-str raises TypeError), or
                                    so did the traceback of an exception
    <cycle TYPE>                    a list or dict inside itself
    <too deep TYPE>                 a list or dict nested deeper than
                                    vardelquin.dumps writes (1000 levels)
    <changed while written TYPE>    a list or dict that changed while it
                                    was being copied
"""

from __future__ import annotations

from typing import Any

__all__ = ["cycle", "changed", "is_data_failure", "too_deep", "unprintable", "unprintable_exception"]

# InternalFailure is a BaseException that vardelquin does not export; dumps
# raises it for a dictionary changed while it is written.
_INTERNAL_FAILURE = ("vardelquin_runtime", "InternalFailure")


def is_data_failure(error: BaseException) -> bool:
    """Whether error came from the data being written, so a placeholder may take its place.

    Any Exception does, and so does vardelquin's InternalFailure. Other
    BaseExceptions (KeyboardInterrupt and SystemExit from a signal handler,
    GeneratorExit, a task's cancellation) steer the program and must pass.
    """
    cls = type(error)
    return issubclass(cls, Exception) or (cls.__module__, cls.__name__) == _INTERNAL_FAILURE


def unprintable(value: Any, error: BaseException) -> str:
    return f"<unprintable {_type_name(value)}: {_type_name(error)}>"


def unprintable_exception(exc_info: Any, error: BaseException) -> str:
    """The placeholder of a traceback that could not be formatted: it names the exception's type."""
    value = exc_info[1] if isinstance(exc_info, tuple) and len(exc_info) > 1 else exc_info
    return unprintable(value, error)


def cycle(value: Any) -> str:
    return f"<cycle {_type_name(value)}>"


def too_deep(value: Any) -> str:
    return f"<too deep {_type_name(value)}>"


def changed(value: Any) -> str:
    return f"<changed while written {_type_name(value)}>"


def _type_name(value: Any) -> str:
    # type() cannot be faked; a metaclass could still make __name__ a property.
    try:
        name = type(value).__name__
    except Exception:
        return "object"
    return name if type(name) is str else "object"
