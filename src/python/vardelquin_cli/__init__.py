"""Command-line tool for vardelquin: JSON to text, text to JSON, and checking texts.

    vardelquin dumps [FILE]   JSON in, one line of text out
    vardelquin loads [FILE]   text in, JSON out
    vardelquin check [FILE]   text in, nothing out; the exit status tells

Exit status: 0 on success, 1 for input that cannot be read or converted,
2 for a bad command line or an invalid format configuration.
"""

from __future__ import annotations

import argparse
import json
import re
import sys
from typing import Any, BinaryIO, Sequence

import vardelquin

__all__ = ["main"]

PROG = "vardelquin"

EXIT_OK = 0
EXIT_BAD_INPUT = 1
EXIT_BAD_USAGE = 2

# (field, default shown in --help, what it does), in the constructor's order.
CONFIG_FIELDS = (
    ("field_sep", ";", "ends every top-level entry; separates the pairs of a nested object"),
    ("kv_sep", "=", "separates a key from its value"),
    ("list_open", "[", "opens a list"),
    ("list_close", "]", "closes a list"),
    ("list_sep", "|", "separates list items"),
    ("obj_open", "{", "opens a nested object"),
    ("obj_close", "}", "closes a nested object"),
    ("escape", "\\", "written before delimiter characters inside keys and strings"),
    ("null_str", "null", "the text of null"),
    ("true_str", "true", "the text of true"),
    ("false_str", "false", "the text of false"),
)

# Reader messages that name a byte offset end with " at pos N"; the others
# ("... but got EOF", "Unterminated list", "Unterminated object") are about
# the end of the text.
_POSITION = re.compile(r" at pos (\d+)\Z")

# Comfortably above the 1000 levels of nesting that vardelquin accepts.
_RECURSION_LIMIT = 10_000

# Longest stretch of the offending line shown around the caret, in characters.
_CONTEXT_BEFORE = 60
_CONTEXT_AFTER = 20

EPILOG = """\
Delimiter options take exactly one ASCII character; the keyword options take
any non-empty text free of delimiters. Give a value that begins with '-' as
--option=VALUE, and a tab or another control character with the shell's
quoting, e.g. --field-sep $'\\t'. An invalid combination is refused with exit
status 2 and the configuration's own message.

Text is read and written as UTF-8. 'dumps' ends its output with a line feed;
'loads' and 'check' drop one final line feed (or carriage return and line
feed) of their input before reading it, so the two can be piped together.

A text that does not read is reported as FILE:LINE:COLUMN: and the reader's
message (whose position is a byte offset into the UTF-8 text), followed by the
offending line with a caret under that place; LINE and COLUMN count from 1,
COLUMN in characters.

Exit status: 0 success; 1 input that cannot be read, parsed or converted;
2 bad usage or an invalid format configuration.
"""


class _InputError(Exception):
    """Input that cannot be read or converted; the message is shown as it is."""


def _option_name(field: str) -> str:
    return "--" + field.replace("_", "-")


def _add_config_options(parser: argparse.ArgumentParser) -> None:
    group = parser.add_argument_group(
        "format configuration", "The dialect of the text; every option defaults to the standard form."
    )
    for field, default, meaning in CONFIG_FIELDS:
        metavar = "TEXT" if field.endswith("_str") else "CHAR"
        group.add_argument(
            _option_name(field),
            dest=field,
            metavar=metavar,
            help=f"{meaning} (default: '{default}')".replace("%", "%%"),
        )


def _add_io_options(parser: argparse.ArgumentParser, what: str) -> None:
    parser.add_argument("file", nargs="?", metavar="FILE", help=f"{what} to read; '-' or none reads standard input")
    parser.add_argument("-o", "--output", metavar="OUT", help="write to OUT instead of standard output")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Convert between JSON and the vardelquin text format, or check a text.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True

    dumps = commands.add_parser(
        "dumps",
        help="read JSON, write the text",
        description="Read a JSON document and write it as one line of text.\n"
        "The top level must be a JSON object, unless --wrap is given. Integers must\n"
        "fit in 64 bits, and nesting is limited to 1000 levels.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    _add_io_options(dumps, "JSON document")
    dumps.add_argument(
        "--wrap",
        metavar="KEY",
        help="write a top level that is not a JSON object as the object {KEY: top level}; "
        "an object is written as it is",
    )
    dumps.add_argument(
        "-n", "--no-newline", action="store_true", help="do not end the output with a line feed"
    )
    _add_config_options(dumps)
    dumps.set_defaults(command_parser=dumps)

    loads = commands.add_parser(
        "loads",
        help="read a text, write JSON",
        description="Read a text and write it as JSON, one line unless --indent is given.\n"
        "Non-finite floats are written as NaN, Infinity and -Infinity, as Python's\n"
        "json module does.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    _add_io_options(loads, "text")
    loads.add_argument(
        "--indent", type=int, metavar="N", help="indent nested JSON by N spaces (default: one line)"
    )
    loads.add_argument(
        "--ascii", action="store_true", help="write non-ASCII characters as \\u escapes"
    )
    _add_config_options(loads)
    loads.set_defaults(command_parser=loads)

    check = commands.add_parser(
        "check",
        help="check that a text reads without error",
        description="Read a text and report its first error, if any. Prints nothing and\n"
        "exits with status 0 when the text reads without error.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    check.add_argument("file", nargs="?", metavar="FILE", help="text to read; '-' or none reads standard input")
    _add_config_options(check)
    check.set_defaults(command_parser=check)

    return parser


def _make_config(args: argparse.Namespace, parser: argparse.ArgumentParser) -> vardelquin.FormatConfig:
    given = {field: getattr(args, field) for field, _, _ in CONFIG_FIELDS if getattr(args, field) is not None}
    try:
        return vardelquin.FormatConfig(**given)
    except ValueError as error:
        parser.error(str(error))  # exits with status 2


def _read_input(path: str | None, stdin: BinaryIO) -> tuple[bytes, str]:
    """The raw bytes of FILE (or standard input) and the name to show in messages."""
    if path is None or path == "-":
        return stdin.read(), "<stdin>"
    try:
        with open(path, "rb") as f:
            return f.read(), path
    except OSError as error:
        raise _InputError(f"cannot read {path}: {error.strerror or error}") from None


def _decode_text(data: bytes, name: str) -> str:
    if data.endswith(b"\r\n"):
        data = data[:-2]
    elif data.endswith(b"\n"):
        data = data[:-1]
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise _InputError(f"{name}: not UTF-8 text (byte {error.start}: {error.reason})") from None


def _visible(ch: str) -> str:
    """One character standing for ch on a terminal: control characters as their pictures."""
    code = ord(ch)
    if code < 0x20 and ch != "\t":
        return chr(0x2400 + code)
    if code == 0x7F:
        return "\u2421"
    return ch


def describe_position(text: str, message: str) -> tuple[int, int, str]:
    """The line number, column (both from 1, in characters) and caret display of a reader error.

    The reader counts positions in bytes of the UTF-8 text; a message without a
    position concerns the end of the text.
    """
    data = text.encode("utf-8")
    match = _POSITION.search(message)
    pos = min(int(match.group(1)), len(data)) if match else len(data)
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


def _dumps_command(args: argparse.Namespace, config: vardelquin.FormatConfig, stdin: BinaryIO) -> str:
    data, name = _read_input(args.file, stdin)
    try:
        document = json.loads(data)
    except (ValueError, RecursionError) as error:  # JSONDecodeError and UnicodeDecodeError are ValueErrors
        raise _InputError(f"{name}: not a JSON document: {error}") from None
    if not isinstance(document, dict):
        if args.wrap is None:
            raise _InputError(
                f"{name}: the top level is a JSON {_json_kind(document)}, not an object "
                "(use --wrap KEY to write it under a key)"
            )
        document = {args.wrap: document}
    try:
        text = vardelquin.dumps(document, config)
    except (TypeError, ValueError, OverflowError, RecursionError) as error:
        raise _InputError(f"{name}: {error}") from None
    return text if args.no_newline else text + "\n"


def _json_kind(value: Any) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, (int, float)):
        return "number"
    if isinstance(value, str):
        return "string"
    return "array"


def _read_text(args: argparse.Namespace, config: vardelquin.FormatConfig, stdin: BinaryIO) -> dict[str, Any]:
    data, name = _read_input(args.file, stdin)
    text = _decode_text(data, name)
    try:
        return vardelquin.loads(text, config)
    except ValueError as error:
        message = str(error)
        line, column, display = describe_position(text, message)
        raise _InputError(f"{name}:{line}:{column}: {message}\n{display}") from None


def _loads_command(args: argparse.Namespace, config: vardelquin.FormatConfig, stdin: BinaryIO) -> str:
    result = _read_text(args, config, stdin)
    return json.dumps(result, indent=args.indent, ensure_ascii=args.ascii) + "\n"


def _write_output(path: str | None, output: str, stdout: BinaryIO) -> None:
    encoded = output.encode("utf-8")
    if path is None or path == "-":
        stdout.write(encoded)
        stdout.flush()
        return
    try:
        with open(path, "wb") as f:
            f.write(encoded)
    except OSError as error:
        raise _InputError(f"cannot write {path}: {error.strerror or error}") from None


def main(argv: Sequence[str] | None = None) -> int:
    """Run the tool with the given arguments (default: the command line); returns the exit status."""
    parser = build_parser()
    args = parser.parse_args(argv)
    config = _make_config(args, args.command_parser)
    stdin, stdout = sys.stdin.buffer, sys.stdout.buffer
    # Python's json module recurses once per level; give it room for every
    # depth that vardelquin itself accepts.
    recursion_limit = sys.getrecursionlimit()
    sys.setrecursionlimit(max(recursion_limit, _RECURSION_LIMIT))
    try:
        if args.command == "dumps":
            _write_output(args.output, _dumps_command(args, config, stdin), stdout)
        elif args.command == "loads":
            _write_output(args.output, _loads_command(args, config, stdin), stdout)
        else:
            _read_text(args, config, stdin)
    except _InputError as error:
        sys.stderr.write(f"{PROG}: error: {error}\n")
        return EXIT_BAD_INPUT
    except BrokenPipeError:
        # The reader of standard output went away (e.g. `| head`): stop quietly.
        _silence_stdout()
        return EXIT_BAD_INPUT
    finally:
        sys.setrecursionlimit(recursion_limit)
    return EXIT_OK


def _silence_stdout() -> None:
    import os

    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def run() -> None:
    """Entry point of the console script."""
    sys.exit(main())
