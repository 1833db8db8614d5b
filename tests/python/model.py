"""An independent pure-Python model of vardelquin's writer and reader, for the differential tests.
A configuration is anything with the eleven field attributes; None means the defaults."""
import math
import re
import struct
import unicodedata
from collections import namedtuple
from decimal import Decimal

from vardelquin_fields import DELIMITERS, FIELDS

Config = namedtuple("Config", FIELDS)
DEFAULTS = Config(";", "=", "[", "]", "|", "{", "}", "\\", "null", "true", "false")
MAX_DEPTH = 1000
INT_MIN, INT_MAX = -2**63, 2**63 - 1


def as_config(cfg):
    return DEFAULTS if cfg is None else Config(*(getattr(cfg, f) for f in FIELDS))


def delimiters(cfg):
    """The delimiter characters of a Config (or of a tuple of values in field order)."""
    return tuple(cfg[:len(DELIMITERS)])


def keywords(cfg):
    """The keyword texts of a Config, null_str first."""
    return tuple(cfg[len(DELIMITERS):])


# ---------------------------------------------------------------- writer

def format_float(x):
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    if x == math.trunc(x):
        return ("-" if math.copysign(1.0, x) < 0 else "") + str(abs(int(x))) + ".0"
    return format(Decimal(repr(x)), "f")


def _escape(text, cfg):
    specials = set(delimiters(cfg))
    return "".join(cfg.escape + ch if ch in specials else ch for ch in text)


def _key(k):
    if not isinstance(k, str):
        raise TypeError(f"'{type(k).__qualname__}' object cannot be cast as 'str'")
    k.encode("utf-8")  # a lone surrogate raises here, as in the module
    return str.__str__(k)


def _value(o, cfg, depth):
    if o is None:
        return cfg.null_str
    if type(o) is bool:
        return cfg.true_str if o else cfg.false_str
    if isinstance(o, int):
        v = int.__index__(o)
        if not INT_MIN <= v <= INT_MAX:
            raise OverflowError("int too big to convert")
        return _escape(str(v), cfg)
    if isinstance(o, float):
        return _escape(format_float(float.__float__(o)), cfg)
    if isinstance(o, (list, dict)):
        if depth >= MAX_DEPTH:
            raise RecursionError(f"Maximum nesting depth of {MAX_DEPTH} exceeded")
        if isinstance(o, list):
            return cfg.list_open + cfg.list_sep.join(_value(x, cfg, depth + 1) for x in list.copy(o)) + cfg.list_close
        pairs = {_key(k): _value(v, cfg, depth + 1) for k, v in dict.items(o)}  # a repeated key: the last value
        inner = cfg.field_sep.join(_escape(k, cfg) + cfg.kv_sep + pairs[k]
                                   for k in sorted(pairs, key=lambda s: s.encode()))
        return cfg.obj_open + inner + cfg.obj_close
    text = str.__str__(o) if isinstance(o, str) else str(o)
    text.encode("utf-8")
    return _escape(text, cfg)


def dumps(obj, cfg=None):
    cfg = as_config(cfg)
    return "".join(_escape(_key(k), cfg) + cfg.kv_sep + _value(v, cfg, 0) + cfg.field_sep for k, v in dict.items(obj))


# ---------------------------------------------------------------- reader

def char_literal(c):
    """The quoted form of a code point below 256, as reader messages show it."""
    simple = {"\0": "\\0", "\t": "\\t", "\n": "\\n", "\r": "\\r", "'": "\\'", "\\": "\\\\"}
    if c in simple:
        body = simple[c]
    elif c != " " and unicodedata.category(c) in ("Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs"):
        body = "\\u{%x}" % ord(c)
    else:
        body = c
    return "'" + body + "'"


_INT = re.compile(r"[+-]?[0-9]+")
_FLOAT = re.compile(r"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?"
                    r"|(?i:inf|infinity|nan))")


def decode_scalar(token, cfg):
    for word, value in ((cfg.null_str, None), (cfg.true_str, True), (cfg.false_str, False)):
        if token == word:
            return value
    if _INT.fullmatch(token) and INT_MIN <= int(token) <= INT_MAX:
        return int(token)
    if _FLOAT.fullmatch(token):
        return float(token)
    return token


class _Reader:
    def __init__(self, text, cfg):
        self.b, self.pos, self.cfg = text.encode("utf-8"), 0, cfg
        self.n = len(self.b)
        self.d = {f: ord(getattr(cfg, f)) for f in DELIMITERS}

    def at(self, field):
        return self.pos < self.n and self.b[self.pos] == self.d[field]

    def take(self, field):
        found = self.at(field)
        self.pos += found
        return found

    def fail(self, message):
        """The reader's ValueError: its pos is where reading stopped, the end of the text included."""
        error = ValueError(message)
        error.pos = self.pos
        raise error

    def fail_at(self, before, after):
        c = char_literal(chr(self.b[self.pos]))
        self.fail(f"{before}{c}{after} at pos {self.pos}")

    def closes(self, sep, close, what):
        """After an item: consumes sep (False) or close (True), else fails."""
        if self.pos == self.n:
            self.fail(f"Unterminated {what}")
        if self.take(sep):
            return False
        if self.take(close):
            return True
        self.fail_at("Unexpected ", f" in {what}")

    def token(self, stops):
        out = bytearray()
        stop = {self.d[f] for f in stops}
        while self.pos < self.n:
            byte = self.b[self.pos]
            if byte == self.d["escape"]:
                self.pos += 1
                if self.pos == self.n:
                    break
            elif byte in stop:
                break
            out.append(self.b[self.pos])  # continuation bytes never match a delimiter
            self.pos += 1
        return out.decode("utf-8")

    def expect_kv(self):
        if self.pos == self.n:
            self.fail(f"Expected {char_literal(self.cfg.kv_sep)} but got EOF")
        if not self.take("kv_sep"):
            self.fail_at(f"Expected {char_literal(self.cfg.kv_sep)} but got ", "")

    def value(self, depth):
        for opener, parse in (("list_open", self.parse_list), ("obj_open", self.parse_object)):
            if self.at(opener):
                if depth >= MAX_DEPTH:
                    self.fail(f"Maximum nesting depth of {MAX_DEPTH} exceeded at pos {self.pos}")
                self.pos += 1
                return parse(depth + 1)
        return decode_scalar(self.token(("field_sep", "kv_sep", "list_sep", "list_close", "obj_close")), self.cfg)

    def parse_list(self, depth):
        items = []
        if not self.take("list_close"):
            items.append(self.value(depth))
            while not self.closes("list_sep", "list_close", "list"):
                items.append(self.value(depth))
        return items

    def parse_object(self, depth):
        obj = {}
        if not self.take("obj_close"):
            while True:
                key = self.token(("kv_sep", "obj_close"))
                self.expect_kv()
                obj[key] = self.value(depth)  # a repeated key keeps its place, takes the new value
                if self.closes("field_sep", "obj_close", "object"):
                    break
        return dict(sorted(obj.items(), key=lambda kv: kv[0].encode()))

    def document(self):
        """Pairs in text order; an empty key is read like any other key."""
        doc = {}
        while True:
            while self.take("field_sep"):
                pass
            if self.pos == self.n:
                return doc
            key = self.token(("kv_sep",))
            self.expect_kv()
            doc[key] = self.value(0)
            self.take("field_sep")


def loads(text, cfg=None):
    return _Reader(text, as_config(cfg)).document()


# ---------------------------------------------------------------- comparison

def shape(o):
    """A form of a result that compares types exactly and floats by bits."""
    if isinstance(o, float):
        return ("float", struct.pack("<d", o))
    if isinstance(o, list):
        return ("list", [shape(x) for x in o])
    if isinstance(o, dict):
        return ("dict", [(type(k), k, shape(v)) for k, v in o.items()])
    return (type(o).__name__, o)
