"""Plain-text and Markdown rendering of the benchmark's tables."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import List, Optional, Sequence

UNITS = (("ns", 1e-9), ("us", 1e-6), ("ms", 1e-3), ("s", 1.0))
TARGETS_NOTE = ("the module's performance goals: FAIL marks a goal not met yet, not a failed run; "
                "N/A: not measured in this run")


def targets_block(verdicts: Sequence[str], markdown: bool) -> List[str]:
    """The PASS/FAIL lines of the targets, under a heading that says what a FAIL means."""
    if markdown:
        return ["### Targets", "", TARGETS_NOTE[0].upper() + TARGETS_NOTE[1:] + ".", "", "```", *verdicts, "```"]
    return [f"targets ({TARGETS_NOTE})", *(f"  {v}" for v in verdicts)]


def fmt_time(seconds: Optional[float], unit: Optional[str] = None) -> str:
    if seconds is None:
        return "-"
    if unit is None:
        unit = "s"
        for name, scale in UNITS:
            if seconds < scale * 1000:
                unit = name
                break
    scale = dict(UNITS)[unit]
    value = seconds / scale
    if value >= 100:
        return f"{value:,.0f} {unit}"
    if value >= 10:
        return f"{value:.1f} {unit}"
    return f"{value:.2f} {unit}"


def fmt_ratio(ratio: Optional[float]) -> str:
    if ratio is None or not math.isfinite(ratio):
        return "-"
    return f"{ratio:.2f}x"


def fmt_bytes(n: Optional[int]) -> str:
    if n is None:
        return "-"
    return f"{n:,}"


def fmt_mem(n: Optional[int]) -> str:
    if n is None:
        return "-"
    if n == 0:
        return "0"
    if n < 1024 * 1024:
        return f"{n / 1024:,.1f} KiB"
    return f"{n / (1024 * 1024):,.2f} MiB"


def geomean(values: Sequence[Optional[float]]) -> Optional[float]:
    vals = [v for v in values if v is not None and v > 0 and math.isfinite(v)]
    if not vals:
        return None
    return math.exp(sum(math.log(v) for v in vals) / len(vals))


@dataclass
class Table:
    title: str
    headers: List[str]
    rows: List[List[str]] = field(default_factory=list)
    notes: List[str] = field(default_factory=list)
    # Rows after this index are summary rows, set off by a rule in text form.
    summary_from: Optional[int] = None

    def text(self) -> str:
        widths = [len(h) for h in self.headers]
        for row in self.rows:
            for i, cell in enumerate(row):
                widths[i] = max(widths[i], len(cell))

        def line(cells: List[str]) -> str:
            parts = [cells[0].ljust(widths[0])]
            parts += [c.rjust(w) for c, w in zip(cells[1:], widths[1:])]
            return "  ".join(parts).rstrip()

        rule = "  ".join("-" * w for w in widths)
        out = [self.title, line(self.headers), rule]
        for i, row in enumerate(self.rows):
            if self.summary_from is not None and i == self.summary_from:
                out.append(rule)
            out.append(line(row))
        out += [f"  {n}" for n in self.notes]
        return "\n".join(out)

    def markdown(self) -> str:
        out = [f"**{self.title}**", ""]
        out.append("| " + " | ".join(self.headers) + " |")
        out.append("|" + "|".join(["---"] + ["---:"] * (len(self.headers) - 1)) + "|")
        for i, row in enumerate(self.rows):
            cells = list(row)
            if self.summary_from is not None and i >= self.summary_from:
                cells[0] = f"*{cells[0]}*"
            out.append("| " + " | ".join(c.replace("|", "\\|") for c in cells) + " |")
        if self.notes:
            out.append("")
            out += [f"- {n}" for n in self.notes]
        return "\n".join(out)
