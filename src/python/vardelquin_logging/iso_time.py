"""A record's creation time as ISO 8601 with milliseconds and the UTC offset, made once per second.

datetime.fromtimestamp(created).astimezone().isoformat() costs several
microseconds, most of it finding the local UTC offset, and a busy log
writes many records within one second. The offset only changes at a
transition, which falls on a whole second, so the text up to the seconds
and the offset are kept for the last whole second seen; a record of
another second makes them anew.
"""

from __future__ import annotations

import math
from datetime import datetime, timezone
from typing import Optional, Tuple

__all__ = ["IsoClock"]

_modf = math.modf
_MILLISECONDS = tuple(f"{n:03d}" for n in range(1000))


class IsoClock:
    """Formats creation times as ``2026-12-07T19:41:50.123+01:00``, local time or UTC.

    Gives exactly what ``datetime.fromtimestamp(created[, timezone.utc])``
    ``.astimezone().isoformat(timespec="milliseconds")`` gives, microseconds
    rounded as fromtimestamp rounds them. Safe to share between threads:
    the cache is one tuple, replaced whole.
    """

    def __init__(self, utc: bool) -> None:
        self._zone = timezone.utc if utc else None
        # (whole second, "YYYY-MM-DDTHH:MM:SS.", "+HH:MM")
        self._second: Tuple[float, str, str] = (math.nan, "", "")

    def __call__(self, created: float) -> str:
        try:
            fraction, whole = _modf(created)
            micros = round(fraction * 1e6)  # half to even, as datetime.fromtimestamp rounds
        except Exception:  # not a number: fromtimestamp says what is wrong with it
            return self._made(created)
        if 0 <= micros < 1_000_000:  # else rounded up into the next second, or before the epoch
            second, head, offset = self._second
            if whole != second:
                head, offset = self._parts(whole)
            return head + _MILLISECONDS[micros // 1000] + offset
        return self._made(created)

    def _parts(self, whole: float) -> Tuple[str, str]:
        text = self._moment(whole).isoformat(timespec="seconds")
        # The date and time take 19 characters for every year datetime holds.
        head, offset = text[:19] + ".", text[19:]
        self._second = (whole, head, offset)
        return head, offset

    def _made(self, created: float) -> str:
        return self._moment(created).isoformat(timespec="milliseconds")

    def _moment(self, created: float) -> datetime:
        zone: Optional[timezone] = self._zone
        return datetime.fromtimestamp(created, zone) if zone is not None else \
            datetime.fromtimestamp(created).astimezone()
