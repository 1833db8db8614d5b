"""The libraries under comparison, each called the way its users call it.

Every library is used with its defaults. vardelquin, json and ujson write
str; orjson and msgspec write bytes. Each library's loads reads the text
that its own dumps wrote. One more column, orjson_sorted_str, does the work
of vardelquin's dumps with orjson (nested keys sorted, a str result); its
loads would be orjson's again, so it has none.
"""

from __future__ import annotations

import importlib
import itertools
import os
import sys
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterable, List, Optional

SUBJECT = "vardelquin"
SORTED_STR = "orjson_sorted_str"
NAMES = ("vardelquin", "json", "orjson", "orjson_sorted_str", "ujson", "msgspec")
PEER_PACKAGES = ("orjson", "ujson", "msgspec")

# What a run lacks goes into the project's own environment (.venv, made by
# the README's quick start), never into whichever interpreter is first on
# PATH, which then could not import the module anyway.
INSTALL_PEERS = ".venv/bin/pip install -r benchmarks/requirements.txt"


def cannot_import(name: str) -> str:
    """The message for a run whose interpreter lacks the module (name) itself."""
    return (f"cannot import {name} with {sys.executable}: run the benchmarks with the project's environment, "
            f"where the quick start installed it: .venv/bin/python benchmarks/{os.path.basename(sys.argv[0])} "
            f"(made by: python3 -m venv .venv && .venv/bin/pip install .)")


@dataclass
class Library:
    name: str
    dumps: Callable[[Any], Any]
    loads: Optional[Callable[[Any], Any]]  # None: its loads is another column's
    version: str
    call: str  # how it is called, for the report


def _version(dist: str, module: Any) -> str:
    try:
        from importlib import metadata

        return metadata.version(dist)
    except Exception:
        return str(getattr(module, "__version__", "?"))


def load(name: str) -> Library:
    """Imports one library; raises ImportError when it is not installed."""
    if name == "vardelquin":
        import vardelquin

        return Library(name, vardelquin.dumps, vardelquin.loads, _version("vardelquin", vardelquin),
                       "vardelquin.dumps / vardelquin.loads")
    if name == "json":
        import json
        import platform

        return Library(name, json.dumps, json.loads, f"stdlib (Python {platform.python_version()})",
                       "json.dumps / json.loads")
    if name == "orjson":
        import orjson

        return Library(name, orjson.dumps, orjson.loads, _version("orjson", orjson),
                       "orjson.dumps / orjson.loads (bytes)")
    if name == SORTED_STR:
        import orjson

        dumps, option = orjson.dumps, orjson.OPT_SORT_KEYS

        def sorted_to_str(obj: Any) -> str:
            return dumps(obj, option=option).decode()

        return Library(name, sorted_to_str, None, _version("orjson", orjson),
                       "orjson.dumps(obj, option=OPT_SORT_KEYS).decode() (dumps only)")
    if name == "ujson":
        import ujson

        return Library(name, ujson.dumps, ujson.loads, _version("ujson", ujson),
                       "ujson.dumps / ujson.loads")
    if name == "msgspec":
        msgspec_json = importlib.import_module("msgspec.json")
        import msgspec

        return Library(name, msgspec_json.encode, msgspec_json.decode, _version("msgspec", msgspec),
                       "msgspec.json.encode / msgspec.json.decode (bytes)")
    raise ValueError(f"unknown library {name!r}")


def load_all(names=NAMES) -> List[Library]:
    return [load(n) for n in names]


def missing_peers() -> List[str]:
    missing = []
    for n in PEER_PACKAGES:
        try:
            importlib.import_module(n)
        except ImportError:
            missing.append(n)
    return missing


def json_accelerated() -> Optional[bool]:
    try:
        import json.decoder
        import json.encoder

        return (getattr(json.encoder, "c_make_encoder", None) is not None
                and getattr(json.decoder, "c_scanstring", None) is not None)
    except Exception:
        return None


def operations(lib: Library) -> Dict[str, Callable[[Any], Any]]:
    """The operations the library has a column for: dumps, and loads unless it is another's."""
    ops = {"dumps": lib.dumps}
    if lib.loads is not None:
        ops["loads"] = lib.loads
    return ops


def fresh_copy(text: Any) -> Any:
    """A new object equal to `text` (a str or bytes) and not yet seen by any library.

    A str read once may keep what a reader made of it (the interpreter
    attaches a non-ASCII str's UTF-8 to it when asked), and a caller's next
    text would not have that, so every timed loads call reads a copy of its
    own.
    """
    if isinstance(text, str):
        return text.encode("utf-8", "surrogatepass").decode("utf-8", "surrogatepass")
    return bytes(bytearray(text))


def call_arguments(op: str, arg: Any, n: int) -> Iterable[Any]:
    """The arguments of n calls of `op`, made before the clock starts: a fresh copy for every loads call."""
    if op == "loads":
        return [fresh_copy(arg) for _ in range(n)]
    return itertools.repeat(arg, n)


def by_name(libs: List[Library]) -> Dict[str, Library]:
    return {lib.name: lib for lib in libs}
