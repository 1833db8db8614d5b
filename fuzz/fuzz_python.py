"""The checks of the fuzz target fuzz_python.cpp, which calls one_input for every input, in an interpreter it
embeds with the module built in. The input's first bytes chose a configuration already; the next chooses:

- a text (the rest, made valid UTF-8) for loads: its outcome, result or ValueError with message and pos, must
  be the model's and the core's; a result must write back as the core writes the tree it read;
- a dict built from the rest, with subclasses, objects written through str(), numbers and strings that the
  reader types, delimiters, deep nesting, and values that dumps refuses: dumps must agree with the model, and
  what it writes must read back, and write again, to the same text.

A failed check raises AssertionError; any exception the checks do not expect ends the target too."""
import decimal
import math
import struct
import sys

import model
from _fuzz_core import core_read
from model import shape

from vardelquin import FormatConfig, dumps, loads

sys.setrecursionlimit(20_000)  # the model recurses once or twice a level, and nesting goes to the bound


def outcome(function, *args):
    """What a call gives: ("ok", shape of its result) or (exception name, message, pos if a ValueError has it)."""
    try:
        return ("ok", shape(function(*args)))
    except (ValueError, TypeError, OverflowError, RecursionError) as error:
        return (type(error).__name__, str(error), getattr(error, "pos", None))


class Source:
    """The input's bytes, front to back; past the end every byte is 0."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def byte(self):
        self.at += 1
        return self.data[self.at - 1] if self.at <= len(self.data) else 0

    def take(self, n):
        self.at += n
        return self.data[self.at - n:self.at]

    def empty(self):
        return self.at >= len(self.data)


class Int(int):
    pass


class Float(float):
    pass


class Str(str):
    def __str__(self):
        return "not used"  # a str subclass is written as its characters


class List(list):
    pass


class Dict(dict):
    pass


class Shown:
    """Written as what str() gives."""

    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


class Builder:
    def __init__(self, src, fields):
        self.src, self.delimiters = src, [fields[f] for f in model.DELIMITERS]
        self.tricky = list(fields.values()) + [
            "", "0", "-0", "007", "1.", ".5", "1e5", "-inf", "nan", "NaN", "9223372036854775807",
            "9223372036854775808", "-9223372036854775809", "1.0", "-0.0", " 1", "é", "\x00", "a\\;b"]

    def text(self):
        b = self.src.byte()
        if b < 96:
            return self.tricky[b % len(self.tricky)]
        if b < 112:  # a few delimiters in a row
            return "".join(self.delimiters[x % 8] for x in self.src.take(b % 5))
        raw = self.src.take(b % 24 if b < 250 else 300 * (b - 249))
        # Lone surrogates now and then: dumps refuses them, as the model does.
        return raw.decode("utf-8", "surrogateescape" if b % 61 == 0 else "replace")

    def key(self):
        b = self.src.byte()
        if b == 255:
            return self.src.byte()  # not a str
        return Str(self.text()) if b % 16 == 1 else self.text()

    def value(self, depth):
        op = self.src.byte()
        kind = op % 16
        if kind == 0:
            return None
        if kind == 1:
            return bool(op & 0x10)
        if kind == 2:
            return int.from_bytes(self.src.take(8), "little", signed=True) >> (op >> 4) * 4
        if kind == 3:
            return (Int if op & 0x10 else int)(2 ** 63 - (op >> 5)) * (-1 if op & 0x20 else 1)  # some overflow
        if kind == 4:
            (x,) = struct.unpack("<d", self.src.take(8).ljust(8, b"\0"))
            return Float(x) if op & 0x10 else x
        if kind == 5:
            return [0.0, -0.0, math.inf, -math.inf, math.nan, 1e300, 5e-324, 0.1, 1e23][op >> 4 & 7]
        if kind in (6, 7, 8):
            return self.text()
        if kind == 9:
            return Shown(self.text()) if op & 0x10 else decimal.Decimal(op) / 7
        if kind == 10:
            return (tuple(self.src.take(op >> 5)), Str(self.text()))[op >> 4 & 1]
        if depth >= model.MAX_DEPTH:
            return None
        if kind in (11, 12):
            items = [self.value(depth + 1) for _ in range(self.src.byte() % 6)]
            return List(items) if op & 0x10 else items
        if kind in (13, 14):
            members = {self.key(): self.value(depth + 1) for _ in range(self.src.byte() % 6)}
            return Dict(members) if op & 0x10 else members
        # A chain of one-element lists and objects; 255 reaches exactly the bound, 254 one past it.
        length, pattern = self.src.byte(), self.src.byte()
        levels = {255: model.MAX_DEPTH - depth, 254: model.MAX_DEPTH - depth + 1}.get(length, length % 64 + 1)
        v = self.value(model.MAX_DEPTH)
        for i in range(levels):
            v = [v] if pattern >> (i % 8) & 1 else {"k": v}
        return v

    def document(self):
        doc = {}
        while not self.src.empty() and len(doc) < 64:
            doc[self.key()] = self.value(0)
        return doc


def check_text(text, cfg):
    got = outcome(loads, text, cfg)
    assert got == outcome(model.loads, text, cfg), (text, got)
    if got[0] != "ok":
        assert got == core_read(text), (text, got)
        return
    check_written(dumps(loads(text, cfg), cfg), cfg)


def check_dict(doc, cfg):
    got = outcome(dumps, doc, cfg)
    want = outcome(model.dumps, doc, cfg)
    # Messages of refusals differ between the model and the module where they come from the interpreter.
    assert got[0] == want[0] and (got[0] != "ok" or got == want), (doc, got, want)
    if got[0] == "ok":
        check_written(dumps(doc, cfg), cfg)


def check_written(text, cfg):
    """A written text reads without fail, as the model and the core read it, and after one more round its
    reading is a fixed point."""
    first = loads(text, cfg)
    assert shape(first) == shape(model.loads(text, cfg)), text
    assert_core_agrees(text, first, cfg)
    again = dumps(first, cfg)
    assert dumps(loads(again, cfg), cfg) == again, (text, again)


def assert_core_agrees(text, result, cfg):
    """The core read the same entries from the text (its tree keeps a repeated key, a dict keeps the first
    place and the last value), each written as dumps writes the value loads made."""
    core = core_read(text)
    assert core[0] == "ok", (text, core)
    entries = {}
    for key, value_text in core[1]:
        entries[key] = value_text
    assert list(entries) == list(result), (text, core)
    for key, value in result.items():
        assert dumps({"": value}, cfg) == cfg.kv_sep + entries[key] + cfg.field_sep, (text, key, entries[key])


def one_input(fields, data):
    cfg = FormatConfig(**fields)
    src = Source(data)
    if src.byte() % 2 == 0:
        check_text(data[src.at:].decode("utf-8", "replace"), cfg)
    else:
        check_dict(Builder(src, fields).document(), cfg)
