"""Converting many records in worker processes with multiprocessing.

A FormatConfig does not pickle, so it cannot be sent to a worker: send its
fields (plain strings) and build the configuration once per worker, in the
pool's initializer. This works with every start method, spawn (the default
on macOS and Windows) and fork.

    python examples/parallel_processes.py
"""
from __future__ import annotations

import multiprocessing
from typing import Any, Optional

import vardelquin
from vardelquin import FormatConfig
from vardelquin_fields import FIELDS

_config: Optional[FormatConfig] = None  # one per worker process, made by _start_worker


def config_fields(config: FormatConfig) -> dict[str, str]:
    """What a worker needs to rebuild config: its eleven fields."""
    return {field: getattr(config, field) for field in FIELDS}


def _start_worker(fields: dict[str, str]) -> None:
    global _config
    _config = FormatConfig(**fields)


def _dumps(record: dict[str, Any]) -> str:
    return vardelquin.dumps(record, _config)


def _loads(text: str) -> dict[str, Any]:
    return vardelquin.loads(text, _config)


def _pool(config: FormatConfig, start_method: str, processes: int) -> Any:
    context = multiprocessing.get_context(start_method)
    return context.Pool(processes, initializer=_start_worker, initargs=(config_fields(config),))


def dumps_all(records: list[dict[str, Any]], config: FormatConfig, start_method: str = "spawn",
              processes: int = 2) -> list[str]:
    """The texts of records, in order, written by a pool of worker processes."""
    with _pool(config, start_method, processes) as pool:
        # Chunks of many records: one record per task would cost more in
        # messages between the processes than the conversion itself.
        return pool.map(_dumps, records, chunksize=512)


def loads_all(texts: list[str], config: FormatConfig, start_method: str = "spawn",
              processes: int = 2) -> list[dict[str, Any]]:
    with _pool(config, start_method, processes) as pool:
        return pool.map(_loads, texts, chunksize=512)


if __name__ == "__main__":
    dialect = FormatConfig(field_sep=",", kv_sep=":", null_str="-")
    records = [{"id": i, "name": f"user {i}", "score": i / 8, "tags": ["a", "b,c"], "manager": None}
               for i in range(10_000)]
    texts = dumps_all(records, dialect)
    print(texts[1])  # id:1,name:user 1,score:0.125,tags:[a|b\,c],manager:-,
    assert loads_all(texts, dialect) == records
