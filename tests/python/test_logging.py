"""vardelquin_logging: every record one line that reads back, from logging and from structlog."""
import collections
import dataclasses
import datetime
import decimal
import enum
import functools
import http
import io
import json
import logging
import pathlib
import re
import subprocess
import sys
import textwrap
import threading
import time
import uuid

import pytest

import vardelquin
from vardelquin import FormatConfig
from vardelquin_logging import Formatter, Renderer, join_lines
from vardelquin_logging import fit
from vardelquin_logging.iso_time import IsoClock
from vardelquin_logging.one_line import FIELDS, one_line

import model

from clirun import ok, run_cli

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "log_lines.py"

TEXTS_WITH_BREAKS = ["two\nlines", "crlf\r\nline\r\n", "lone\rreturn", "\n", "\r", "\r\n", "a\n\nb\n\n",
                     "\r\r\n\n\r", "mixed\r\n\n\rend", "kept\x0bform\x0cfeed\x85\u2028\u2029\n;=[]|{}\\x",
                     "über\nnaïve"]


def one_record(formatter, message="hello", *args, extra=None, exc_info=None, stack_info=False, name="app"):
    """The one line that formatter writes for a record logged as given."""
    stream = io.StringIO()
    handler = logging.StreamHandler(stream)
    handler.setFormatter(formatter)
    logger = logging.Logger(name)  # not registered: no handlers but this one
    logger.addHandler(handler)
    logger.error(message, *args, extra=extra, exc_info=exc_info, stack_info=stack_info)
    text = stream.getvalue()
    assert text.endswith("\n") and text.count("\n") == 1 and "\r" not in text, text
    return text[:-1]


class Shown:
    def __str__(self):
        return "first\nsecond"


def test_default_fields_then_extras_in_order():
    line = one_record(Formatter(), "user %s; id=%d", "mirl", 7, name="app.db",
                      extra={"user_id": 7, "ok": True, "ratio": 0.5, "none": None, "tags": ["a", "b|c"],
                             "geo": {"lat": 52.1}, "level": "shadowed"})
    record = vardelquin.loads(line)
    assert list(record) == ["time", "level", "logger", "message", "user_id", "ok", "ratio", "none", "tags", "geo",
                            "extra.level"]
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d", record["time"])
    assert record["level"] == "ERROR" and record["logger"] == "app.db" and record["message"] == "user mirl; id=7"
    assert record["tags"] == ["a", "b|c"] and record["geo"] == {"lat": 52.1} and record["extra.level"] == "shadowed"


def test_records_of_a_subclass_are_written_whole():
    class Early(logging.LogRecord):
        def __init__(self, *args):
            self.request_id = "r1"  # before the record's own attributes in its __dict__
            super().__init__(*args)

        def getMessage(self):  # a message that is not a str
            return {"text": "hi", "on": UTC_MOMENT}

    record = Early("app", logging.INFO, __file__, 1, "hi", (), None)
    assert vardelquin.loads(Formatter({"message": "msg"}).format(record)) == {
        "msg": {"text": "hi", "on": "2026-12-08T03:04:05+00:00"}, "request_id": "r1"}


@pytest.mark.parametrize("text", TEXTS_WITH_BREAKS)
def test_line_breaks_are_recovered_exactly(text):
    record = vardelquin.loads(one_record(Formatter(), text, extra={"note": {"deep": [text]}}))
    assert join_lines(record["message"]) == text and join_lines(record["note"]["deep"][0]) == text
    if "\r" not in text:  # the plain join is enough without carriage returns
        assert "\n".join(record["message"]) == text


def test_tracebacks_and_stacks_are_recovered_exactly():
    def fail():
        raise ValueError("bad value\nwith a second line")
    try:
        fail()
    except ValueError:
        exc_info = sys.exc_info()
    formatter = Formatter()
    record = vardelquin.loads(one_record(formatter, "failed", exc_info=exc_info, stack_info=True))
    assert join_lines(record["exception"]) == formatter.formatException(exc_info)
    assert record["exception"][-2:] == ["ValueError: bad value", "with a second line"]
    assert record["stack"][0] == "Stack (most recent call last):" and list(record)[-2:] == ["exception", "stack"]


def test_lines_spelling_numbers_or_keywords_join_back():
    text = "count:\n42\n-7\n0.5\nnull\ntrue\nfalse"
    assert join_lines(vardelquin.loads(one_record(Formatter(), text))["message"]) == text


def test_values_of_other_types_are_written_as_dumps_writes_them():
    moment = datetime.datetime(2026, 12, 7, 19, 41, 50)
    extra = {"tuple": (1, "a"), "decimal": decimal.Decimal("1.10"), "when": moment, "set": {3},
             "ordered": collections.OrderedDict(b=1, a=2)}
    line = one_record(Formatter({"message": "msg"}), extra=extra)
    assert line == "msg=hello;" + vardelquin.dumps({**extra, "when": "2026-12-07T19:41:50", "set": [3]})
    # What dumps refuses, a log line still carries: no record is lost.
    line = one_record(Formatter({"message": "msg"}), extra={"shown": Shown(), "nested": {1: "x", None: [2**64]},
                                                             "surrogate": "a\udc80", "key\nbreak": {"k\r": 1}})
    assert vardelquin.loads(line) == {"msg": "hello", "shown": ["first", "second"],
                                      "nested": {"1": "x", "None": [float(2**64)]}, "surrogate": "a\\udc80",
                                      "key\\nbreak": {"k\\r": 1}}


def test_custom_fields_and_configuration():
    config = FormatConfig(field_sep=",", kv_sep=":", null_str="-")
    formatter = Formatter({"levelno": "lvl", "message": "msg", "lineno": "line", "asctime": "at"}, config=config,
                          utc=True)
    config.kv_sep = "="  # the formatter made its own copy
    line = one_record(formatter, "a,b\nc", extra={"x": None})
    record = vardelquin.loads(line, FormatConfig(field_sep=",", kv_sep=":", null_str="-"))
    assert list(record) == ["lvl", "msg", "line", "at", "x"]
    assert record["lvl"] == logging.ERROR and record["msg"] == ["a,b", "c"] and record["x"] is None
    assert formatter.iso_time(0.5) == "1970-01-01T00:00:00.500+00:00"
    # An exception is left out when the fields do not name exc_info.
    assert "Traceback" not in one_record(formatter, exc_info=(ValueError, ValueError("x"), None))


@pytest.mark.parametrize("kwargs, message", [
    ({"fields": {"levelname": "level", "colour": "c"}}, "not attributes of a log record: colour"),
    ({"fields": {"levelname": "x", "name": "x"}}, "the keys must be distinct str"),
    ({"config": FormatConfig(field_sep="\n")}, "field_sep '\\n' holds a line break"),
    ({"config": FormatConfig(null_str="nil\r")}, "null_str 'nil\\r' holds a line break"),
])
def test_refused_settings(kwargs, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        Formatter(**kwargs)
    if "config" in kwargs:
        with pytest.raises(ValueError, match=re.escape(message)):
            Renderer(config=kwargs["config"])


def test_the_configuration_fields_are_the_modules():  # the copy of a config is made field by field
    assert FIELDS == model.FIELDS


def test_renderer_without_structlog():
    # structlog blocked from importing: the package imports and the renderer works.
    script = textwrap.dedent("""
        import sys
        sys.modules["structlog"] = None
        import vardelquin_logging
        try:
            raise KeyError("k")
        except KeyError as error:
            caught = error
        print(vardelquin_logging.Renderer()(None, "info", {"event": "a\\nb", "n": 1, "exc_info": caught}))
    """)
    proc = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    record = vardelquin.loads(proc.stdout.rstrip("\n"))
    assert record["event"] == ["a", "b"] and record["n"] == 1
    assert record["exception"][0] == "Traceback (most recent call last):" and record["exception"][-1] == "KeyError: 'k'"


def test_renderer_in_a_structlog_chain():
    structlog = pytest.importorskip("structlog")
    stream = io.StringIO()
    logger = structlog.wrap_logger(structlog.PrintLogger(stream), processors=[
        structlog.processors.add_log_level, Renderer(config=FormatConfig(list_sep=","))])
    logger.info("user\r\nlogged in", user={"id": 7, "name": "a;b"}, tags=("x", "y"))
    try:
        {}["missing"]
    except KeyError:
        logger.exception("lookup failed")
    logger.info("here", stack_info=True)
    lines = stream.getvalue().splitlines()
    assert len(lines) == 3
    config = FormatConfig(list_sep=",")
    first, second, third = (vardelquin.loads(line, config) for line in lines)
    assert first == {"event": [["user", ""], "logged in"], "user": {"id": 7, "name": "a;b"}, "tags": "('x', 'y')",
                     "level": "info"}
    assert list(first) == ["event", "user", "tags", "level"]  # structlog puts event after the caller's keys
    # The caller's frame is the last: structlog's and the renderer's own are left out.
    assert list(third) == ["event", "level", "stack"] and "in test_renderer_in_a_structlog_chain" in third["stack"][-2]
    assert join_lines(first["event"]) == "user\r\nlogged in"
    assert second["event"] == "lookup failed" and second["exception"][-1] == "KeyError: 'missing'"


@pytest.mark.parametrize("event_dict, keys", [
    ({"a": 1, "event": "e", "b": 2}, ["event", "a", "b"]),
    ({"a": 1}, ["a"]),
    ({"event": "e", "stack_info": False}, ["event"]),
    ({"stack_info": True, "event": "e", "exc_info": ValueError("x")}, ["event", "exception", "stack"]),
])
def test_renderer_writes_event_first_and_leaves_the_event_dict(event_dict, keys):
    given = dict(event_dict)
    record = vardelquin.loads(Renderer()(None, "info", event_dict))
    assert list(record) == keys and event_dict == given
    if "stack" in record:
        assert record["stack"][0] == "Stack (most recent call last):"
        assert "in test_renderer_writes_event_first_and_leaves_the_event_dict" in record["stack"][-2]


def test_the_readme_example_reads_back_with_the_tool(tmp_path):
    pytest.importorskip("structlog")
    proc = subprocess.run([sys.executable, EXAMPLE, "app.log"], capture_output=True, text=True, cwd=tmp_path,
                          timeout=60)
    assert (proc.returncode, proc.stderr) == (0, "")
    records = [json.loads(line) for line in ok(run_cli("loads", "--lines", "app.log", cwd=tmp_path)).splitlines()]
    assert [r.get("level") for r in records] == ["INFO", "ERROR", "info"]
    assert records[0]["items"] == ["tea", "cups"]
    assert records[1]["message"] == ["could not price order 1042;", "retrying"]
    assert records[1]["exception"][-1] == "KeyError: 'price'" and records[2]["event"] == "order shipped"


class Unprintable:
    def __init__(self, result=None):
        self.result = result

    def __str__(self):
        if self.result is None:
            raise ValueError("no text")
        return self.result  # not a str: str() raises TypeError


class Mutating:
    """Changes its container while dumps writes it, itself or from another thread, deterministically."""
    def __init__(self, container, thread=False):
        self.container, self.thread = container, thread
        container["m"] = self

    def __str__(self):
        change = functools.partial(self.container.__setitem__, "z", 1)
        if self.thread:
            other = threading.Thread(target=change)
            other.start()
            other.join()
        else:
            change()
        return "m"


def nested(depth, innermost):
    value = innermost
    for _ in range(depth):
        value = [value]
    return value


def self_holding(kind):
    value = kind()
    value.append(value) if kind is list else value.__setitem__("self", value)
    return value


# (value, what it is written as): each value fails vardelquin.dumps, yet the record is written.
HOSTILE = {
    "str raises": (lambda: Unprintable(), "<unprintable Unprintable: ValueError>"),
    "str not a str": (lambda: Unprintable(5), "<unprintable Unprintable: TypeError>"),
    "key str raises": (lambda: {Unprintable(): 1}, {"<unprintable Unprintable: ValueError>": 1}),
    "dict in itself": (lambda: self_holding(dict), {"self": "<cycle dict>"}),
    "list in itself": (lambda: self_holding(list), ["<cycle list>"]),
    "too deep": (lambda: nested(3000, 1), nested(999, ["<too deep list>"])),
    "lines at the bound": (lambda: nested(999, "a\nb\r\nc"), nested(999, "a\\nb\\r\\nc")),
    # Copied before the str() that changes it: written as it was.
    "changed by str": (lambda: Mutating({"a": 1}).container, {"a": 1, "m": "m"}),
    "changed by a thread": (lambda: Mutating({"a": 1}, thread=True).container, {"a": 1, "m": "m"}),
}


@pytest.mark.parametrize("make, written", HOSTILE.values(), ids=HOSTILE)
def test_values_that_cannot_be_written_become_placeholders(make, written, capsys):
    line = one_record(Formatter({"message": "msg"}), "kept", extra={"before": [1], "value": make(), "after": "x"})
    rendered = Renderer()(None, "info", {"event": "kept", "before": [1], "value": make(), "after": "x"})
    assert "\n" not in rendered and "\r" not in rendered
    # Compared as text: == on the read-back values would recurse too deeply for the deep ones.
    assert line == vardelquin.dumps({"msg": "kept", "before": [1], "value": written, "after": "x"})
    assert rendered == vardelquin.dumps({"event": "kept", "before": [1], "value": written, "after": "x"})
    vardelquin.loads(line)
    assert capsys.readouterr() == ("", "")


@pytest.mark.parametrize("message, args, exc_info, fields", [
    ("%d", ("not a number",), None, {"message": "<unprintable str: TypeError>"}),
    (Unprintable(), (), None, {"message": "<unprintable Unprintable: ValueError>"}),
    ("failed", (), (ValueError, "not an exception", None),
     {"message": "failed", "exception": "<unprintable str: AttributeError>"}),
])
def test_messages_and_tracebacks_that_cannot_be_made(message, args, exc_info, fields, capsys):
    formatter = Formatter({"message": "message", "exc_info": "exception"})
    assert vardelquin.loads(one_record(formatter, message, *args, exc_info=exc_info)) == fields
    if exc_info is not None:
        assert vardelquin.loads(Renderer()(None, "error", {"event": "failed", "exc_info": exc_info})) == {
            "event": "failed", "exception": fields["exception"]}
    assert capsys.readouterr() == ("", "")


def test_a_copy_that_fails_and_what_steers_the_program(monkeypatch):
    # A copy fails only when another thread wins a race mid-copy; stand in for it.
    monkeypatch.setattr(fit, "_copy", lambda container, is_list: None if container.get("x") == 1 else
                        list(dict.items(container)))
    assert vardelquin.loads(one_line({"a\n": {"x": 1}}, None)) == {"a\\n": "<changed while written dict>"}
    monkeypatch.undo()

    class Interrupting:
        def __str__(self):
            raise KeyboardInterrupt

    for value in (Interrupting(), [Interrupting(), "a\nb"]):
        with pytest.raises(KeyboardInterrupt):
            Renderer()(None, "info", {"value": value})


ISO_TIME = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d")


@pytest.mark.parametrize("args, kwargs, written", [
    ((), {}, ["time", "level", "logger", "message", "user"]),
    (({"levelname": "lvl", "message": "msg"},), {}, {"lvl": "ERROR", "msg": "hello", "user": "u"}),
    (("%(asctime)s %(levelname)-8s %(message)s", "%Y-%m-%d"), {}, ["asctime", "levelname", "message", "user"]),
    (("{created} {levelname:<8} {message!r} {name.upper}", None, "{"), {}, ["created", "levelname", "message", "name",
                                                                            "user"]),
    (("$levelname ${message} $$x",), {"style": "$"}, {"levelname": "ERROR", "message": "hello", "user": "u"}),
    (("%(service)s %(user)s %(message)s %(missing)s %%(no)s",), {"defaults": {"service": "shop"}},
     {"service": "shop", "user": "u", "message": "hello", "missing": None}),
    (("no attribute named",), {"validate": False}, {"user": "u"}),
    (("",), {"fields": {"message": "m"}}, {"m": "hello", "user": "u"}),
    ((), {"static_fields": {"service": "shop"}}, ["time", "level", "logger", "message", "service", "user"]),
    (({"levelname": "lvl", "message": "msg"},), {"static_fields": {"since": datetime.date(2026, 1, 2)},
                                                  "rename_fields": {"levelname": "severity", "user": "who"}},
     {"severity": "ERROR", "msg": "hello", "since": "2026-01-02", "who": "u"}),
    (("%(levelname)s %(message)s",), {"rename_fields": {"user": "message"}},
     {"levelname": "ERROR", "message": "hello", "extra.message": "u"}),
    ((), {"static_fields": {"level": 1}}, ValueError("the keys must be distinct str")),
    ((), {"rename_fields": {"name": "level"}}, ValueError("the keys must be distinct str")),
    ((), {"rename_fields": {"name": 7}}, ValueError("rename_fields must give str keys")),
    (("no attribute named",), {}, ValueError("Invalid format 'no attribute named' for '%' style")),
    (("%(message)s", None, "#"), {}, ValueError("Style must be one of: %,{,$")),
    (("%(message)s",), {"fields": {"message": "m"}}, TypeError("give fmt or fields, not both")),
    (({"message": "m"},), {"fields": {"message": "m"}}, TypeError("fields given twice")),
])
def test_constructed_as_the_standard_librarys_formatter(args, kwargs, written):
    if isinstance(written, Exception):
        with pytest.raises(type(written), match=re.escape(str(written))):
            Formatter(*args, **kwargs)
        return
    record = vardelquin.loads(one_record(Formatter(*args, **kwargs), extra={"user": "u"}))
    assert (list(record) if isinstance(written, list) else record) == written
    if "created" in record:
        assert ISO_TIME.fullmatch(record["created"])
    if "asctime" in record:
        assert record["asctime"] == datetime.date.today().isoformat()


def test_built_by_file_config_and_dict_config(tmp_path):
    (tmp_path / "logging.ini").write_text(textwrap.dedent("""
        [loggers]
        keys=root
        [handlers]
        keys=out
        [formatters]
        keys=v
        [logger_root]
        level=INFO
        handlers=out
        [handler_out]
        class=StreamHandler
        args=(sys.stdout,)
        formatter=v
        [formatter_v]
        class=vardelquin_logging.Formatter
        format=%(levelname)s %(message)s
    """))
    # Configuring logging replaces every handler, pytest's too: it runs apart.
    script = textwrap.dedent("""
        import logging, logging.config
        def log():
            logging.getLogger("app").info("hello", extra={"n": 1})
        logging.config.fileConfig("logging.ini")
        log()
        for formatter in ({"class": "vardelquin_logging.Formatter", "format": "{levelname} {message}", "style": "{",
                           "validate": True},
                          {"()": "vardelquin_logging.Formatter", "format": "$levelname $message", "style": "$",
                           "utc": True}):
            logging.config.dictConfig({
                "version": 1, "disable_existing_loggers": False, "formatters": {"v": formatter},
                "root": {"level": "INFO", "handlers": ["out"]},
                "handlers": {"out": {"class": "logging.StreamHandler", "stream": "ext://sys.stdout",
                                     "formatter": "v"}}})
            log()
    """)
    proc = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, cwd=tmp_path, timeout=60)
    assert (proc.returncode, proc.stderr) == (0, "")
    lines = proc.stdout.splitlines()
    assert [vardelquin.loads(line) for line in lines] == [{"levelname": "INFO", "message": "hello", "n": 1}] * 3


# Each side of the spring and autumn transitions of 2026 in Europe, the
# second within one whole second, half microseconds (rounded to even), a
# fraction that rounds up into the next second, and times before the epoch.
SPRING, AUTUMN = 1774746000.0, 1792890000.0
CREATED = [SPRING - 1.0005, SPRING - 0.25, SPRING, SPRING + 0.9995, AUTUMN - 3600.5, AUTUMN - 0.001, AUTUMN + 0.5,
           AUTUMN - 3600.25, 1e9 + 0.0000005, 1e9 + 0.0000015, 1e9 + 0.9999996, 0.0, -1.5, -0.0000004, 1.7e9 + 0.123]


@pytest.mark.skipif(not hasattr(time, "tzset"), reason="time.tzset is POSIX only")
@pytest.mark.parametrize("zone", ["UTC", "Europe/Amsterdam", "Asia/Kathmandu", "America/St_Johns"])
def test_time_stamps_made_once_a_second_match_datetime(zone, monkeypatch):
    monkeypatch.setenv("TZ", zone)
    time.tzset()
    try:
        for utc in (False, True):
            clock = IsoClock(utc)
            for created in CREATED:
                moment = datetime.datetime.fromtimestamp(created, datetime.timezone.utc) if utc else \
                    datetime.datetime.fromtimestamp(created).astimezone()
                assert clock(created) == moment.isoformat(timespec="milliseconds"), (utc, created)
    finally:
        monkeypatch.undo()
        time.tzset()


class Color(enum.Enum):
    RED = "red"
    ONE = 1
    ID = uuid.UUID(int=1)


@dataclasses.dataclass
class Point:
    x: int
    when: list
    secret: str = dataclasses.field(default="hidden", repr=False)  # not in the repr: not written either


@dataclasses.dataclass
class Node:
    next: object = None


class Hooked:
    def __structlog__(self):
        return {"id": 7, "at": datetime.date(2026, 12, 8)}


def looped():
    node = Node()
    node.next = node
    return node


UTC_MOMENT = datetime.datetime(2026, 12, 8, 3, 4, 5, tzinfo=datetime.timezone.utc)
# (value, what it is written as), at the top of the line and inside a list and a dict.
VALUE_TYPES = {
    "datetime": (UTC_MOMENT, "2026-12-08T03:04:05+00:00"),
    "naive datetime": (datetime.datetime(2026, 12, 8, 3, 4, 5, 678000), "2026-12-08T03:04:05.678000"),
    "date": (datetime.date(2026, 12, 8), "2026-12-08"),
    "time": (datetime.time(3, 4, 5), "03:04:05"),
    "enum": (Color.RED, "red"),
    "enum of an int": (Color.ONE, 1),
    "enum of a uuid": (Color.ID, "00000000-0000-0000-0000-000000000001"),
    "int enum": (http.HTTPStatus.OK, 200),
    "uuid": (uuid.UUID("12345678-1234-5678-1234-567812345678"), "12345678-1234-5678-1234-567812345678"),
    "decimal": (decimal.Decimal("1.10"), "1.10"),
    "path": (pathlib.PurePosixPath("/var/log/app.log"), "/var/log/app.log"),
    "bytes": (b"\x00\xff;", "hex:00ff3b"),
    "bytearray": (bytearray(b"ab"), "hex:6162"),
    "set": ({3, 1, 2}, [1, 2, 3]),
    "frozenset": (frozenset({"b", "a"}), ["a", "b"]),
    "dataclass": (Point(1, [UTC_MOMENT]), {"x": 1, "when": ["2026-12-08T03:04:05+00:00"]}),
    "dataclass in itself": (looped(), {"next": "<cycle Node>"}),
    "named tuple": (collections.namedtuple("Pair", "a b")(1, "x\ny"), {"a": 1, "b": ["x", "y"]}),
    "__structlog__": (Hooked(), {"id": 7, "at": "2026-12-08"}),
    "tuple": ((1, "a"), "(1, 'a')"),
    "other": (Shown(), ["first", "second"]),
}


@pytest.mark.parametrize("value, written", VALUE_TYPES.values(), ids=VALUE_TYPES)
def test_values_of_common_types_are_written_as_data(value, written):
    fields = {"v": value, "in": ["a", value], "at": {"k": value}}
    expected = vardelquin.dumps({"v": written, "in": ["a", written], "at": {"k": written}})
    line = one_record(Formatter({"message": "msg"}), extra=fields)
    assert line == "msg=hello;" + expected
    assert Renderer()(None, "info", fields) == expected
    vardelquin.loads(line)


class Thing:
    def __str__(self):
        return "thing"


@pytest.mark.parametrize("default, written", [
    (None, "thing"),
    (lambda value: {"kind": type(value).__name__}, {"kind": "Thing"}),
    (lambda value: value, "thing"),  # given back: its str()
    (lambda value: 1 / 0, "thing"),  # raises: its str()
    (lambda value: datetime.date(2026, 1, 2), "2026-01-02"),  # converted in turn
])
def test_default_converts_the_other_types(default, written):
    calls = []

    def recorded(value):
        calls.append(type(value))
        return default(value)

    hook = recorded if default else None
    fields = {"t": Thing(), "at": UTC_MOMENT}
    expected = {"t": written, "at": "2026-12-08T03:04:05+00:00"}
    line = one_record(Formatter({"message": "msg"}, default=hook), extra=fields)
    assert vardelquin.loads(line) == {"msg": "hello", **expected}
    assert Renderer(default=hook)(None, "info", fields) == vardelquin.dumps(expected)
    assert set(calls) <= {Thing}  # never asked about a type converted without it
