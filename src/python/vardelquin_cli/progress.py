"""A one-line progress display on standard error for long line streams.

Written here rather than taken from a progress-bar library: the tool is a
small pure-Python part of the extension's wheel with no runtime dependency,
and one status line redrawn a few times a second, erased at the end, needs
no more than this.
"""

from __future__ import annotations

import sys
import time
from typing import Optional, TextIO

# A file at least this large shows its progress from the start; a stream of
# unknown size once it has run for STREAM_DELAY seconds.
LARGE_INPUT = 8 << 20
STREAM_DELAY = 2.0
_REDRAW_EVERY = 0.25  # seconds
_CHECK_EVERY = 256  # records between looks at the clock


class Progress:
    def __init__(self, stream: Optional[TextIO], total: Optional[int], forced: bool) -> None:
        self._stream = stream
        self._total = total
        self._started = time.monotonic()
        self._shown_at: Optional[float] = None
        if forced or (total is not None and total >= LARGE_INPUT):
            self._show_after = self._started
        else:
            self._show_after = self._started + STREAM_DELAY
        self._width = 0

    @classmethod
    def for_terminal(cls, total: Optional[int], choice: Optional[bool]) -> Optional[Progress]:
        """A display when standard error is a terminal and the user did not turn it off, else None."""
        stream = sys.stderr
        if choice is False or stream is None or not stream.isatty():
            return None
        return cls(stream, total, forced=choice is True)

    def update(self, records: int, consumed: int) -> None:
        if records % _CHECK_EVERY and records > 1:
            return
        now = time.monotonic()
        if now < self._show_after or (self._shown_at is not None and now - self._shown_at < _REDRAW_EVERY):
            return
        self._shown_at = now
        self._draw(records, consumed, now)

    def close(self) -> None:
        """Erases the display, so that what follows on standard error starts on a clean line."""
        if self._shown_at is not None and self._stream is not None:
            self._stream.write("\r" + " " * self._width + "\r")
            self._stream.flush()
        self._shown_at = None

    def _draw(self, records: int, consumed: int, now: float) -> None:
        elapsed = max(now - self._started, 1e-9)
        line = f"vardelquin: {records:,} records, {consumed / 1e6:,.1f} MB"
        if self._total:
            line += f" of {self._total / 1e6:,.1f} MB ({min(consumed / self._total, 1.0):.0%})"
        line += f", {records / elapsed:,.0f} records/s"
        assert self._stream is not None
        self._stream.write("\r" + line.ljust(self._width))
        self._stream.flush()
        self._width = max(self._width, len(line))
