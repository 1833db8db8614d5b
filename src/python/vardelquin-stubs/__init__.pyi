"""Type information for the native module ``vardelquin``.

Single-line text serialisation of Python dictionaries: ``dumps`` writes a
dict as text, ``loads`` reads such a text back, and ``FormatConfig`` holds
the delimiters and keyword spellings of the text.
"""

from typing import Any, final

# What type checkers make of every TypedDict: a dict at run time, which
# dumps takes, where dict[str, Any] would refuse it. Not exported.
from typing import _TypedDict

__all__ = ["FormatConfig", "dumps", "loads"]

@final
class FormatConfig:
    """The delimiters and keyword texts of the format.

    Eight delimiters (single ASCII characters, pairwise different):
    field_sep ';', kv_sep '=', list_open '[', list_close ']', list_sep '|',
    obj_open '{', obj_close '}', escape '\\'; three keyword texts (non-empty,
    pairwise different, free of delimiters): null_str "null", true_str
    "true", false_str "false". Every construction and every property
    assignment is validated; an invalid combination raises ValueError and
    leaves the instance unchanged. The class cannot be subclassed.
    """

    def __new__(
        cls,
        field_sep: str = ";",
        kv_sep: str = "=",
        list_open: str = "[",
        list_close: str = "]",
        list_sep: str = "|",
        obj_open: str = "{",
        obj_close: str = "}",
        escape: str = "\\",
        null_str: str = ...,
        true_str: str = ...,
        false_str: str = ...,
    ) -> FormatConfig:
        """Build and validate a configuration.

        Omitted arguments take their defaults (null_str "null", true_str
        "true", false_str "false"). A delimiter that is not a one-character
        str raises ValueError "expected a string of length 1"; a value that
        is not a str raises TypeError naming the argument; a rule broken by
        the combination raises ValueError with that rule's message.
        """

    @property
    def field_sep(self) -> str:
        """Ends every top-level entry and separates the pairs of a nested object."""
    @field_sep.setter
    def field_sep(self, value: str) -> None: ...
    @property
    def kv_sep(self) -> str:
        """Separates a key from its value."""
    @kv_sep.setter
    def kv_sep(self, value: str) -> None: ...
    @property
    def list_open(self) -> str:
        """Opens a list."""
    @list_open.setter
    def list_open(self, value: str) -> None: ...
    @property
    def list_close(self) -> str:
        """Closes a list."""
    @list_close.setter
    def list_close(self, value: str) -> None: ...
    @property
    def list_sep(self) -> str:
        """Separates list items."""
    @list_sep.setter
    def list_sep(self, value: str) -> None: ...
    @property
    def obj_open(self) -> str:
        """Opens a nested object."""
    @obj_open.setter
    def obj_open(self, value: str) -> None: ...
    @property
    def obj_close(self) -> str:
        """Closes a nested object."""
    @obj_close.setter
    def obj_close(self, value: str) -> None: ...
    @property
    def escape(self) -> str:
        """Written before every delimiter character inside keys and strings."""
    @escape.setter
    def escape(self, value: str) -> None: ...
    @property
    def null_str(self) -> str:
        """The text of None."""
    @null_str.setter
    def null_str(self, value: str) -> None: ...
    @property
    def true_str(self) -> str:
        """The text of True."""
    @true_str.setter
    def true_str(self, value: str) -> None: ...
    @property
    def false_str(self) -> str:
        """The text of False."""
    @false_str.setter
    def false_str(self, value: str) -> None: ...
    def special_chars(self) -> list[str]:
        """The eight delimiters in field order, field_sep first, escape last."""

def dumps(obj: dict[str, Any] | _TypedDict, config: FormatConfig | None = None) -> str:
    """Serialize a Python dict into the custom format string.

    Example:
        cfg = FormatConfig()
        dumps({"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30}, cfg)
        # → "name=mirl;hobbies=[cycling|rowing];age=30;"
    """

def loads(s: str, config: FormatConfig | None = None) -> dict[str, Any]:
    """Deserialize a custom format string into a Python dict.

    Example:
        cfg = FormatConfig()
        loads("name=mirl;hobbies=[cycling|rowing];age=30;", cfg)
        # → {"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30}
    """
