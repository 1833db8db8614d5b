"""Files of line records (one text per line, as `vardelquin dumps --lines` writes them)
read in parallel by a dask bag on a local distributed cluster.

The same code scales out: point the Client at a scheduler on other
machines instead of a LocalCluster. As with multiprocessing, a FormatConfig
does not pickle: the tasks carry its fields, and each partition builds one.
Functions of a script run as __main__ travel by value with the names they
use; they name the class as vardelquin.FormatConfig, because the class
itself reports the module "builtins" and cannot travel by reference.

    python examples/dask_lines.py records-*.txt

It needs dask's bag and distributed, which vardelquin itself does not:
    .venv/bin/pip install "dask[bag]" distributed
(they are among the test requirements, requirements-test.txt).
"""
from __future__ import annotations

import importlib
import sys
from typing import Any, Iterable, Iterator

import vardelquin
from vardelquin import FormatConfig
from vardelquin_fields import FIELDS


def config_fields(config: FormatConfig) -> dict[str, str]:
    return {field: getattr(config, field) for field in FIELDS}


def read_records(lines: Iterable[str], fields: dict[str, str]) -> Iterator[dict[str, Any]]:
    """The records of one partition's lines; blank lines are skipped."""
    config = vardelquin.FormatConfig(**fields)  # once per partition, not once per record
    for line in lines:
        text = line.rstrip("\r\n")
        if text.strip(" \t"):
            yield vardelquin.loads(text, config)


def count_by(paths: list[str], key: str, config: FormatConfig) -> dict[Any, int]:
    """How many records of the files have each value of key, computed on the current dask client."""
    import dask.bag as db

    bag = db.read_text(paths, encoding="utf-8")  # one partition per file (or per block of a large file)
    records = bag.map_partitions(read_records, config_fields(config))
    return dict(records.pluck(key).frequencies().compute())


def local_cluster() -> Any:
    """A cluster of two worker processes on this machine, reachable on loopback only."""
    from dask.distributed import LocalCluster

    return LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None)


def missing_packages() -> list[str]:
    """The optional packages this example needs that the running interpreter lacks."""
    missing = []
    for module, package in (("dask.bag", "dask[bag]"), ("distributed", "distributed")):
        try:
            importlib.import_module(module)
        except ImportError:
            missing.append(package)
    return missing


if __name__ == "__main__":
    missing = missing_packages()
    if missing:
        packages = " ".join(f'"{p}"' if "[" in p else p for p in missing)
        sys.exit(f"{sys.argv[0]} needs {packages}, which {sys.executable} does not have; install them with\n"
                 f"    {sys.executable} -m pip install {packages}")
    from dask.distributed import Client

    with local_cluster() as cluster, Client(cluster):
        print(count_by(sys.argv[1:], "level", FormatConfig()))
