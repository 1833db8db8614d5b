"""Command-line tool for vardelquin: JSON to text, text to JSON, and checking texts.

    vardelquin dumps [FILE]   JSON in, one line of text out
    vardelquin loads [FILE]   text in, JSON out
    vardelquin check [FILE]   text in, nothing out; the exit status tells

With --lines, each command reads and writes one record per line instead.

Exit status: 0 on success, 1 for input that cannot be read or converted or
output that cannot be written, 2 for a bad command line or an invalid format
configuration, 130 when interrupted (Ctrl-C).
"""

from __future__ import annotations

import argparse
import difflib
import json
import sys
from typing import TYPE_CHECKING, NoReturn, Optional, Sequence

import vardelquin

from vardelquin_cli import convert, hints, lines, streams
from vardelquin_cli.streams import InputError

if TYPE_CHECKING:
    from _typeshed import SupportsWrite

__all__ = ["main"]

PROG = "vardelquin"

EXIT_OK = 0
EXIT_BAD_INPUT = 1
EXIT_BAD_USAGE = 2
EXIT_INTERRUPTED = 128 + 2  # the shells' status for a process ended by SIGINT

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

# Comfortably above the 1000 levels of nesting that vardelquin accepts.
_RECURSION_LIMIT = 10_000

EPILOG = """\
Delimiter options take exactly one ASCII character; the keyword options take
any non-empty text free of delimiters. Give a value that begins with '-' as
--option=VALUE, and a tab or another control character with the shell's
quoting, e.g. --field-sep $'\\t'. An invalid combination is refused with exit
status 2 and the configuration's own message.

Input is UTF-8 (a byte-order mark is skipped), or UTF-16 or UTF-32 with a
byte-order mark, which 'dumps' also tells without one; output is UTF-8.
'dumps' ends its output with a line feed; 'loads' and 'check' drop one final
line feed (or carriage return and line feed) of their input before reading
it, so the two can be piped together.

With --lines, every line is one record: JSON Lines for 'dumps', one text per
line for 'loads' and 'check'. Blank lines are skipped; the first failure
stops the run and names its line, after the records before it were written
(to standard output or a pipe: a file given with -o is only replaced by a
run that succeeds). A record whose text would hold a line feed
or carriage return is refused. On a terminal, a long run shows its progress
on standard error (--progress: always, --no-progress: never).

A likely mistake (JSON given to 'loads', several records read without
--lines, UTF-16 without its mark) gets a hint on standard error; the output
and the exit status stay the same.

A text that does not read is reported as FILE:LINE:COLUMN: and the reader's
message (whose position is a byte offset into the UTF-8 text), followed by the
offending line with a caret under that place; LINE and COLUMN count from 1,
COLUMN in characters.

Exit status: 0 success; 1 input that cannot be read, parsed or converted, or
output that cannot be written; 2 bad usage or an invalid format configuration;
130 interrupted.
"""


class _Parser(argparse.ArgumentParser):
    """argparse's parser, printing --help and --version through the tool's one output path.

    argparse writes them to sys.stdout and ignores a failure (a full disk),
    which would end the run with success for output that was never written.
    """

    def _print_message(self, message: str, file: Optional[SupportsWrite[str]] = None) -> None:
        if not message or file is not sys.stdout:  # also None for sys.stdout closed
            super()._print_message(message, file)
            return
        try:
            streams.write_text(None, message)
        except InputError as error:
            _report(f"error: {error}")
            sys.exit(EXIT_BAD_INPUT)
        except BrokenPipeError:
            sys.exit(EXIT_BAD_INPUT)


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


def _add_io_options(parser: argparse.ArgumentParser, what: str, output: bool = True) -> None:
    parser.add_argument("file", nargs="?", metavar="FILE", help=f"{what} to read; '-' or none reads standard input")
    if output:
        parser.add_argument(
            "-o", "--output", metavar="OUT",
            help="write to OUT instead of standard output; a file is replaced only when the run succeeds, "
            "so OUT may be FILE itself",
        )
    parser.add_argument("--lines", action="store_true", help="read and write one record per line")
    parser.add_argument(
        "--progress", action=argparse.BooleanOptionalAction, default=None,
        help="with --lines and standard error on a terminal: show progress always, or never "
        "(default: for a file of 8 MB or more, or a stream after 2 seconds)",
    )


def _indent(value: str) -> int:
    try:
        number = int(value)
    except ValueError:
        number = -1
    if number < 0:
        raise argparse.ArgumentTypeError(f"expected a whole number of spaces, 0 or more, got {value!r}")
    return number


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROG,
        description="Convert between JSON and the vardelquin text format, or check a text.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"{PROG} {_version()}")
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
        "--indent", type=_indent, metavar="N", help="indent nested JSON by N spaces (default: one line)"
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
    _add_io_options(check, "text", output=False)
    _add_config_options(check)
    check.set_defaults(command_parser=check)

    return parser


def _version() -> str:
    from importlib import metadata

    try:
        return metadata.version("vardelquin")
    except metadata.PackageNotFoundError:  # run from a checkout without installing
        return "(version unknown: not installed)"


def _parse(parser: argparse.ArgumentParser, argv: Optional[Sequence[str]]) -> argparse.Namespace:
    """The arguments; a mistake ends the run with status 2 through the command's own parser.

    An unknown option is named alone: argparse would otherwise report it
    together with the positional arguments after it (the input file).
    """
    args, extras = parser.parse_known_args(argv)
    if extras:
        command_parser: argparse.ArgumentParser = getattr(args, "command_parser", parser)
        options = [arg for arg in extras if arg.startswith("-") and arg != "-"]
        if not options:
            command_parser.error(f"unrecognized arguments: {' '.join(extras)}")
        option = options[0].split("=", 1)[0]
        known = [name for action in command_parser._actions for name in action.option_strings]
        close = difflib.get_close_matches(option, known, n=1)
        command_parser.error(f"unrecognized option {option}" + (f" (did you mean {close[0]}?)" if close else ""))
    command_parser = args.command_parser
    if args.lines and getattr(args, "indent", None) is not None:
        command_parser.error("--indent cannot be used with --lines: every record is written on one line")
    if args.lines and getattr(args, "no_newline", False):
        command_parser.error("--no-newline cannot be used with --lines: every record ends with a line feed")
    if args.progress is not None and not args.lines:
        command_parser.error("--progress and --no-progress apply to --lines only")
    return args


def _make_config(args: argparse.Namespace, parser: argparse.ArgumentParser) -> vardelquin.FormatConfig:
    given = {field: getattr(args, field) for field, _, _ in CONFIG_FIELDS if getattr(args, field) is not None}
    try:
        config = vardelquin.FormatConfig(**given)
    except ValueError as error:
        parser.error(str(error))  # exits with status 2
    field = lines.config_line_breaks(config) if args.lines else None
    if field is not None:
        parser.error(f"--{field.replace('_', '-')} holds a line break, which --lines cannot use")
    return config


def _whole(args: argparse.Namespace, config: vardelquin.FormatConfig) -> Optional[str]:
    """The commands on a whole input: one JSON document or one text; returns a hint or None."""
    data, name = streams.read_all(args.file)
    if args.command == "dumps":
        # json reads UTF-8 (skipping a byte-order mark) and tells UTF-16 and
        # UTF-32 by their first bytes itself, with or without a mark.
        try:
            document = convert.parse_json(data, name)
        except InputError as error:
            error.hint = hints.json_lines_without_lines(data)
            raise
        text = convert.to_text(document, name, args.wrap, config)
        streams.write_text(args.output, text if args.no_newline else text + "\n")
        return None
    # A text is UTF-8 unless a byte-order mark says otherwise: its first
    # characters are anyone's, so an encoding told from them is only a hint.
    wide = hints.wide_without_mark(data[:4])
    try:
        text = streams.decode(data, name)
        if text.endswith("\r\n"):
            text = text[:-2]
        elif text.endswith("\n"):
            text = text[:-1]
        record = convert.to_record(text, name, config)
    except InputError as error:
        error.hint = wide or error.hint
        raise
    if args.command == "loads":
        streams.write_text(args.output, json.dumps(record, indent=args.indent, ensure_ascii=args.ascii) + "\n")
    return wide or hints.lines_without_lines(text, record) or hints.json_instead_of_text(text)


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the tool with the given arguments (default: the command line); returns the exit status."""
    args = _parse(build_parser(), argv)
    config = _make_config(args, args.command_parser)
    # Python's json module recurses once per level; give it room for every
    # depth that vardelquin itself accepts.
    recursion_limit = sys.getrecursionlimit()
    sys.setrecursionlimit(max(recursion_limit, _RECURSION_LIMIT))
    try:
        hint = lines.run(args, config) if args.lines else _whole(args, config)
        if hint is not None:
            _report(f"hint: {hint}")
    except InputError as error:
        _report(f"error: {error}")
        if error.hint is not None:
            _report(f"hint: {error.hint}")
        return EXIT_BAD_INPUT
    except BrokenPipeError:
        # The reader of standard output went away (e.g. `| head`): stop
        # quietly, as other tools do, but never with success.
        return EXIT_BAD_INPUT
    except MemoryError:
        _report("error: out of memory")
        return EXIT_BAD_INPUT
    finally:
        sys.setrecursionlimit(recursion_limit)
    return EXIT_OK


def _report(message: str) -> None:
    """One message on standard error, if there is one to write to."""
    if sys.stderr is None:
        return
    try:
        sys.stderr.write(f"{PROG}: {message}\n")
        sys.stderr.flush()
    except (OSError, ValueError):
        pass


def _fail_unexpectedly(error: BaseException) -> NoReturn:
    text = str(error).splitlines()
    detail = f"{type(error).__name__}: {text[0]}" if text else type(error).__name__
    _report(f"error: unexpected failure ({detail}); please report it with the command that caused it")
    sys.exit(EXIT_BAD_INPUT)


def run() -> None:
    """Entry point of the console script: no traceback, whatever happens."""
    try:
        status = main()
    except KeyboardInterrupt:
        _report("interrupted")
        status = EXIT_INTERRUPTED
    except SystemExit:
        raise
    except BaseException as error:  # the last resort, so that no traceback reaches the user
        _fail_unexpectedly(error)
    sys.exit(status)
