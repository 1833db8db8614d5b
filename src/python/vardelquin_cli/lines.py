"""Line streams: one record per line each way, read and written one line at a time.

dumps --lines reads JSON Lines and writes one text per line; loads --lines
the reverse; check --lines reads every line. Blank lines (empty, or spaces
and tabs only) are skipped. The first failure stops the run and is reported
with its line number; the lines before it have been written to standard
output or a stream, while a file named by -o is left as it was (see
output_file).
"""

from __future__ import annotations

import argparse
import json
from typing import BinaryIO, Optional

import vardelquin
from vardelquin_fields import FIELDS

from vardelquin_cli import convert, hints, keypath
from vardelquin_cli.progress import Progress
from vardelquin_cli.streams import LINE_BREAKS, InputError, Output, head_of, input_size, lines, open_input


def config_line_breaks(config: vardelquin.FormatConfig) -> Optional[str]:
    """The first format field holding a line break, which would break every record in two."""
    for field in FIELDS:
        if any(brk in getattr(config, field) for brk in LINE_BREAKS):
            return field
    return None


def run(args: argparse.Namespace, config: vardelquin.FormatConfig) -> Optional[str]:
    """Every line of the input through the command; returns a hint or None."""
    stream, name = open_input(args.file)
    # A file that replaces another is put in place only when the run succeeds,
    # and after the input is closed: Windows renames over no open file, and
    # -o may name the input.
    with Output(getattr(args, "output", None)) as output:
        return _convert(args, config, stream, name, output)


def _convert(args: argparse.Namespace, config: vardelquin.FormatConfig, stream: BinaryIO, name: str,
             output: Output) -> Optional[str]:
    """run's loop over the lines; closes a named input at the end."""
    progress = Progress.for_terminal(input_size(stream), args.progress)
    records = 0
    to_json = json.JSONEncoder(ensure_ascii=getattr(args, "ascii", False)).encode  # one encoder for every record
    hint: Optional[str] = None
    try:
        if args.command != "dumps":
            hint = hints.wide_without_mark(head_of(stream))
        # JSON Lines in UTF-16 or UTF-32 are told without a mark, as a whole
        # JSON document is; texts are not (see unmarked_wide_encoding).
        for number, line, consumed in lines(stream, name, output.flush, unmarked=args.command == "dumps"):
            if not line.strip(" \t"):
                continue
            where = f"{name}:{number}"
            if args.command == "dumps":
                output.write(_record_text(line, where, args.wrap, config) + "\n")
            elif args.command == "loads":
                record = convert.to_record(line, name, config, line=number)
                output.write(to_json(record) + "\n")
            else:
                convert.to_record(line, name, config, line=number)
            records += 1
            if progress is not None:
                progress.update(records, consumed)
    except OSError as error:  # reading, after the input was opened
        if isinstance(error, BrokenPipeError):
            raise
        raise InputError(f"cannot read {name}: {error.strerror or error}") from None
    except InputError as error:
        error.hint = hint or error.hint
        raise
    finally:
        if progress is not None:
            progress.close()
        if args.file not in (None, "-"):
            stream.close()
    return hint


def _record_text(line: str, where: str, wrap: Optional[str], config: vardelquin.FormatConfig) -> str:
    document = convert.parse_json(line, where)
    text = convert.to_text(document, where, wrap, config)
    if "\n" in text or "\r" in text:
        path = keypath.find(document if isinstance(document, dict) else {wrap: document}, keypath.has_line_break)
        raise InputError(
            f"{where}: {path or 'the record'} holds a line break, which cannot be written on one line "
            "(a line stream has one text per line; use the command without --lines for such records)"
        )
    # The empty record's text is empty, and a blank line is skipped on reading:
    # a lone field separator keeps the record, and reads back as an empty one.
    return text or config.field_sep
