"""An application's log as one vardelquin record per line, from logging and from structlog.

    python examples/log_lines.py app.log
    vardelquin loads --lines app.log

The structlog part needs structlog, which vardelquin itself does not:
    .venv/bin/pip install structlog
Without it, only the logging part runs, and a note says how to install it.
"""
from __future__ import annotations

import logging
import sys
from typing import Any, TextIO

import vardelquin_logging


def log_with_logging(stream: TextIO) -> None:
    handler = logging.StreamHandler(stream)  # a logging.FileHandler(path, encoding="utf-8") alike
    handler.setFormatter(vardelquin_logging.Formatter())
    log = logging.getLogger("shop.orders")
    log.addHandler(handler)
    log.setLevel(logging.INFO)

    log.info("order %s placed", 1042, extra={"user": "mirl", "items": ["tea", "cups"], "total": 12.5})
    try:
        {}["price"]
    except KeyError:
        log.exception("could not price order 1042;\nretrying")  # two lines of message, and a traceback


def log_with_structlog(stream: TextIO) -> None:
    import structlog

    log: Any = structlog.wrap_logger(structlog.PrintLogger(stream), processors=[
        structlog.processors.add_log_level,
        structlog.processors.TimeStamper(fmt="iso"),
        vardelquin_logging.Renderer(),
    ])
    log.info("order shipped", order=1042, carrier="post")


if __name__ == "__main__":
    with open(sys.argv[1] if len(sys.argv) > 1 else "app.log", "a", encoding="utf-8") as out:
        log_with_logging(out)
        try:
            import structlog  # noqa: F401
        except ImportError:
            print(f"structlog is not installed, so only logging wrote; install it with\n"
                  f"    {sys.executable} -m pip install structlog", file=sys.stderr)
        else:
            log_with_structlog(out)
