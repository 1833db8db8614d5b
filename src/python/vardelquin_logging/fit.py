"""The slow path of one_line: any record made into data that vardelquin.dumps writes on one line.

fit() never raises on the data. Values of other types are first made
data as values.py describes (a datetime its ISO text, a dataclass a dict).
What it returns holds only str (valid
UTF-8, without "\\n" or "\\r"), int within 64 bits, float, bool, None,
and lists and dicts with str keys that it made itself, nested no deeper
than dumps writes. A value that cannot be made so becomes a placeholder
(see placeholder.py). The walk keeps an explicit stack, so that the
interpreter's recursion limit is never reached, and it reads each list
and dict through a copy, so that a container changed meanwhile (by a
value's str(), or by another thread while str() runs) is written as it
was when it was copied.
"""

from __future__ import annotations

from typing import Any, Dict, Iterator, List, Optional, Set, Tuple, Union

from vardelquin_logging import placeholder
from vardelquin_logging.values import WRITTEN, Default, converted, text_of

__all__ = ["fit", "lines_of"]

_INT64_MIN, _INT64_MAX = -(2**63), 2**63 - 1
# dumps refuses more than this many levels of lists and dicts below the top dictionary.
_MAX_DEPTH = 1000
_END: Any = object()

Lines = List[Union[str, List[str]]]
# A container being walked: what is left of its copy, the list or dict being
# built from it, and the id of the original (on the path while it is walked).
_Walk = Tuple[Iterator[Any], Union[List[Any], Dict[str, Any]], int]


def fit(fields: Dict[Any, Any], default: Optional[Default] = None) -> Dict[str, Any]:
    """fields, made writable as described above; values keep dumps's spelling where dumps can write them.

    default is the caller's conversion for values of types that values.py
    does not convert itself.
    """
    top: Dict[str, Any] = {}
    contents = _copy(fields, False)
    if contents is None:
        return {"record": _fit_text(placeholder.changed(fields), 1)}
    walks: List[_Walk] = [(iter(contents), top, id(fields))]
    on_path: Set[int] = {id(fields)}
    while walks:
        left, target, ident = walks[-1]
        entry: Any = next(left, _END)
        if entry is _END:
            walks.pop()
            on_path.discard(ident)
            continue
        key, value = entry if isinstance(target, dict) else (None, entry)
        level = len(walks)  # of value: a list or dict directly in the top dictionary is at level 1
        cls = type(value)  # issubclass, unlike isinstance, never runs the value's code (__class__)
        # A list or dict made from an object (a dataclass's fields) is on
        # the path as that object, which may hold itself again.
        original, ident = value, id(value)
        if not issubclass(cls, WRITTEN):
            value = converted(value, default)
            cls = type(value)
        if issubclass(cls, (list, dict)):
            if ident in on_path:
                fitted: Any = _fit_text(placeholder.cycle(original), level)
            elif level > _MAX_DEPTH:
                fitted = _fit_text(placeholder.too_deep(original), level)
            else:
                contents = _copy(value, issubclass(cls, list))
                if contents is None:
                    fitted = _fit_text(placeholder.changed(original), level)
                else:
                    fitted = [] if issubclass(cls, list) else {}
                    walks.append((iter(contents), fitted, ident))
                    on_path.add(ident)
        else:
            fitted = _fit_scalar(value, cls, level)
        if isinstance(target, dict):
            target[_fit_key(key)] = fitted
        else:
            target.append(fitted)
    return top


def _copy(container: Any, is_list: bool) -> Union[List[Any], None]:
    """The items of a list, or the (key, value) pairs of a dict; None when it changed during the copy."""
    # The list and dict methods read the container's own storage, as dumps
    # does, whatever a subclass overrides, and run no Python code.
    try:
        return list.copy(container) if is_list else list(dict.items(container))
    except RuntimeError:
        return None


# The type tests of vardelquin.dumps, in its order, so that a value is
# written as dumps writes it, only without line breaks. Subclasses are made
# their exact base type, whose methods a subclass cannot override.
def _fit_scalar(value: Any, cls: type, level: int) -> Any:
    if value is None or cls is bool:
        return value
    if issubclass(cls, int):
        number = int.__int__(value)
        if _INT64_MIN <= number <= _INT64_MAX:
            return number
        try:
            return int.__repr__(number)
        except ValueError as error:  # beyond the interpreter's limit on digits
            return placeholder.unprintable(number, error)
    if issubclass(cls, float):
        return float.__float__(value)
    return _fit_text(str.__str__(value), level)  # a str: converted() leaves no other type


def _fit_text(text: str, level: int) -> Union[str, Lines]:
    """text as the one-line rule writes it: the list of its lines when it holds a line break.

    The list, and the lists of a line's pieces between "\\r"s, are levels of
    nesting; where the text is too deep for them, its line breaks are
    spelled out, as a key's are.
    """
    text = _encodable(text)
    if "\n" not in text and "\r" not in text:
        return text
    if level + ("\r" in text) > _MAX_DEPTH:
        return _spelled_out(text)
    return lines_of(text)


def lines_of(text: str) -> Union[str, Lines]:
    """text as the one-line rule writes it in the top dictionary: the list of its lines, if it has more than one.

    Split at every "\\n"; a line that still holds a "\\r" becomes the list of
    its pieces between the "\\r"s.
    """
    if "\n" not in text and "\r" not in text:
        return text
    return [line.split("\r") if "\r" in line else line for line in text.split("\n")]


def _fit_key(key: Any) -> str:
    # A key cannot become a list: its line breaks are spelled out instead,
    # the one place where the text does not give the original back.
    return _spelled_out(_encodable(str.__str__(key) if issubclass(type(key), str) else text_of(key)))


def _spelled_out(text: str) -> str:
    return text.replace("\n", "\\n").replace("\r", "\\r")


def _encodable(text: str) -> str:
    """text, with a lone surrogate (which UTF-8 cannot hold) written as its escape, \\udc80."""
    if text.isascii():
        return text
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return text.encode("utf-8", "backslashreplace").decode("utf-8")
    return text
