"""The fields of a FormatConfig, in its constructor's order, as the compiled module defines them.

    from vardelquin_fields import FIELDS
    fields = {name: getattr(config, name) for name in FIELDS}   # plain strs: pickle, send, log them
    config = FormatConfig(**fields)                             # the same configuration again

DELIMITERS are the eight one-character roles (the characters of
special_chars(), in its order) and KEYWORDS the three keyword texts.
The tuples are read off the class, which takes them from the module's
own table, so they cannot fall out of step with it.
"""

from __future__ import annotations

import inspect
from typing import Tuple

from vardelquin import FormatConfig

__all__ = ["DELIMITERS", "FIELDS", "KEYWORDS"]

# The class's properties are its fields, in the order the module defines them.
FIELDS: Tuple[str, ...] = tuple(name for name, member in vars(FormatConfig).items()
                                if inspect.isgetsetdescriptor(member))
KEYWORDS: Tuple[str, ...] = tuple(name for name in FIELDS if name.endswith("_str"))
DELIMITERS: Tuple[str, ...] = FIELDS[:len(FIELDS) - len(KEYWORDS)]
