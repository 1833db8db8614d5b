"""A one-line progress display on standard error for long line streams.

Written here rather than taken from a progress-bar library: the tool is a
small pure-Python part of the extension's wheel with no runtime dependency,
and one status line redrawn a few times a second, erased at the end, needs
no more than this.

The line is redrawn by a timer thread, not by the loop over the records: a
stream that delivers a record now and then (`tail -f`), or none for a while,
still sees its display appear after STREAM_DELAY and move on time. The loop
only stores its counts, which costs it next to nothing per record.
"""

from __future__ import annotations

import sys
import threading
import time
from typing import Optional, TextIO

# A file at least this large shows its progress from the start; a stream of
# unknown size once it has run for STREAM_DELAY seconds.
LARGE_INPUT = 8 << 20
STREAM_DELAY = 2.0
REDRAW_EVERY = 0.25  # seconds


class Progress:
    def __init__(self, stream: TextIO, total: Optional[int], forced: bool) -> None:
        self._stream = stream
        self._total = total
        self._started = time.monotonic()
        self._counts = (0, 0)  # (records, bytes read): one tuple, so the timer never sees half an update
        self._width = 0
        self._shown = False
        self._stop = threading.Event()
        delay = 0.0 if forced or (total is not None and total >= LARGE_INPUT) else STREAM_DELAY
        if delay == 0.0:
            self._draw()  # at once, so that even a run shorter than one tick shows it
        self._timer = threading.Thread(target=self._redraw, args=(delay,), name="vardelquin progress", daemon=True)
        self._timer.start()

    @classmethod
    def for_terminal(cls, total: Optional[int], choice: Optional[bool]) -> Optional[Progress]:
        """A display when standard error is a terminal and the user did not turn it off, else None."""
        stream = sys.stderr
        if choice is False or stream is None or not stream.isatty():
            return None
        return cls(stream, total, forced=choice is True)

    def update(self, records: int, consumed: int) -> None:
        self._counts = (records, consumed)

    def close(self) -> None:
        """Stops the timer and erases the display, so that what follows on standard error starts on a clean line."""
        self._stop.set()
        self._timer.join()
        if self._shown:
            self._write("\r" + " " * self._width + "\r")
            self._shown = False

    def _redraw(self, delay: float) -> None:
        if self._stop.wait(delay or REDRAW_EVERY):
            return
        while True:
            self._draw()
            if self._stop.wait(REDRAW_EVERY):
                return

    def _draw(self) -> None:
        records, consumed = self._counts
        elapsed = max(time.monotonic() - self._started, 1e-9)
        line = f"vardelquin: {records:,} record{'' if records == 1 else 's'}, {consumed / 1e6:,.1f} MB"
        if self._total:
            line += f" of {self._total / 1e6:,.1f} MB ({min(consumed / self._total, 1.0):.0%})"
        line += f", {records / elapsed:,.0f} records/s"
        self._write("\r" + line.ljust(self._width))
        self._width = max(self._width, len(line))
        self._shown = True

    def _write(self, text: str) -> None:
        try:
            self._stream.write(text)
            self._stream.flush()
        except (OSError, ValueError):  # a display that cannot be shown is not worth failing the run for
            pass
