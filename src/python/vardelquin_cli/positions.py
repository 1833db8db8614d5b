"""Where a reader error is: line, column and a caret under the offending character."""

from __future__ import annotations

from typing import Optional

# Longest stretch of the offending line shown around the caret, in characters.
_CONTEXT_BEFORE = 60
_CONTEXT_AFTER = 20


def _visible(ch: str) -> str:
    """One character standing for ch on a terminal: control characters as their pictures."""
    code = ord(ch)
    if code < 0x20 and ch != "\t":
        return chr(0x2400 + code)
    if code == 0x7F:
        return "\u2421"
    return ch


def describe_position(text: str, pos: Optional[int]) -> tuple[int, int, str]:
    """The line number, column (both from 1, in characters) and caret display of a reader error.

    pos is the error's byte offset into the UTF-8 text (the pos attribute of
    the ValueError that loads raises); None stands for the end of the text.
    """
    data = text.encode("utf-8")
    pos = len(data) if pos is None else min(pos, len(data))
    start = data.rfind(b"\n", 0, pos) + 1
    end = data.find(b"\n", pos)
    if end < 0:
        end = len(data)
    before = data[start:pos].decode("utf-8", errors="replace")
    after = data[pos:end].decode("utf-8", errors="replace")
    line_number = data.count(b"\n", 0, start) + 1
    column = len(before) + 1

    shown_before, shown_after = before, after
    prefix = suffix = ""
    if len(shown_before) > _CONTEXT_BEFORE:
        shown_before, prefix = shown_before[-_CONTEXT_BEFORE:], "..."
    if len(shown_after) > _CONTEXT_AFTER:
        shown_after, suffix = shown_after[:_CONTEXT_AFTER], "..."
    line = prefix + "".join(map(_visible, shown_before + shown_after)) + suffix
    padding = "".join("\t" if ch == "\t" else " " for ch in prefix + shown_before)
    return line_number, column, f"    {line}\n    {padding}^"
