"""A small program written against the type information of vardelquin.

A type checker in strict mode accepts it, and it runs as it stands:
    python examples/typed_usage.py
"""

from __future__ import annotations

from typing import Any, TypedDict

import vardelquin
from vardelquin import FormatConfig


def colon_dialect() -> FormatConfig:
    """A configuration with ',' between entries and ':' between key and value."""
    config = FormatConfig(",", ":", null_str="nil")
    config.true_str = "yes"
    config.false_str = "no"
    return config


class Order(TypedDict):
    id: int
    items: list[str]


def round_trip(record: dict[str, Any], config: FormatConfig | None = None) -> dict[str, Any]:
    text: str = vardelquin.dumps(record, config)
    return vardelquin.loads(text, config=config)


def main() -> None:
    person: dict[str, Any] = {"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30}
    assert round_trip(person) == person

    order: Order = {"id": 7, "items": ["tea", "cake"]}
    assert vardelquin.dumps(order) == "id=7;items=[tea|cake];"

    config = colon_dialect()
    specials: list[str] = config.special_chars()
    assert specials[:2] == [",", ":"]
    assert vardelquin.dumps({"ok": True, "none": None}, config) == "ok:yes,none:nil,"

    try:
        config.kv_sep = ","
    except ValueError as error:
        message: str = str(error)
        assert message == "Delimiter conflict: 'field_sep' and 'kv_sep' are both ','"
    assert config.kv_sep == ":"

    print(vardelquin.dumps(person), repr(config), sep="\n")


if __name__ == "__main__":
    main()
