"""Reading input and writing output: encodings, byte-order marks, lines, write failures."""

from __future__ import annotations

import codecs
import errno
import io
import json
import os
import select
import sys
from typing import BinaryIO, Callable, Iterator, Optional, TypeVar

from vardelquin_cli.output_file import OutputFile

STDIN_NAME = "<stdin>"
_CHUNK = 1 << 16
T = TypeVar("T")

# Line feed and carriage return end a line for every line-oriented reader
# (this tool, Python's text files, grep, wc). Other characters that
# str.splitlines() also splits on (\v, \f, \x1c-\x1e, \x85, \u2028, \u2029)
# stay in a line for all of those, so records keep them.
LINE_BREAKS = ("\n", "\r")


class InputError(Exception):
    """Input that cannot be read or converted, or output that cannot be written; shown as it is.

    hint, when given, is a second line: the likely mistake behind the failure.
    """

    def __init__(self, message: str, hint: Optional[str] = None) -> None:
        super().__init__(message)
        self.hint = hint


# UTF-32's little-endian mark begins with UTF-16's, so it is tested first.
_WIDE_BOMS = (
    (codecs.BOM_UTF32_LE, "UTF-32"),
    (codecs.BOM_UTF32_BE, "UTF-32"),
    (codecs.BOM_UTF16_LE, "UTF-16"),
    (codecs.BOM_UTF16_BE, "UTF-16"),
)


def wide_encoding(head: bytes, unmarked: bool = False) -> Optional[str]:
    """UTF-16 or UTF-32 when head starts with that encoding's byte-order mark, else None (UTF-8).

    With unmarked, input without a mark is also told by its zero bytes (see
    unmarked_wide_encoding).
    """
    for bom, encoding in _WIDE_BOMS:
        if head.startswith(bom):
            return encoding
    return unmarked_wide_encoding(head) if unmarked else None


def unmarked_wide_encoding(head: bytes) -> Optional[str]:
    """UTF-16LE, UTF-16BE, UTF-32LE or UTF-32BE, told without a byte-order mark; None when head has one.

    The zero bytes that ASCII characters leave in the first four bytes tell
    them, as the json module does: sure for JSON, whose first character is
    ASCII, but only a guess for a text, whose first characters are anyone's.
    """
    if wide_encoding(head) is not None:
        return None
    encoding = json.detect_encoding(head[:4])
    if not encoding.startswith(("utf-16-", "utf-32-")):
        return None
    return encoding.upper().replace("-LE", "LE").replace("-BE", "BE")


def head_of(stream: BinaryIO) -> bytes:
    """The first bytes of stream, left in it to be read; fewer (or none) when they have not arrived yet."""
    return stream.peek(4)[:4] if hasattr(stream, "peek") else b""


def decode(data: bytes, name: str) -> str:
    """The text of a whole input: UTF-8 without its byte-order mark, or UTF-16/32 told by its mark."""
    encoding = wide_encoding(data) or "utf-8-sig"
    try:
        return data.decode(encoding)  # the utf-16 and utf-32 codecs consume their mark too
    except UnicodeDecodeError as error:
        label = "UTF-8" if encoding == "utf-8-sig" else encoding
        raise InputError(f"{name}: not {label} text (byte {error.start}: {error.reason})") from None


def open_input(path: Optional[str]) -> tuple[BinaryIO, str]:
    """The input stream (standard input for None or '-') and the name to show in messages."""
    if path is None or path == "-":
        if sys.stdin is None:
            raise InputError("cannot read standard input: it is closed")
        return sys.stdin.buffer, STDIN_NAME
    try:
        return open(path, "rb"), path
    except OSError as error:
        raise InputError(f"cannot read {path}: {error.strerror or error}") from None


def read_all(path: Optional[str]) -> tuple[bytes, str]:
    stream, name = open_input(path)
    try:
        return stream.read(), name
    except OSError as error:
        raise InputError(f"cannot read {name}: {error.strerror or error}") from None
    finally:
        if path not in (None, "-"):
            stream.close()


def input_size(stream: BinaryIO) -> Optional[int]:
    """The size in bytes of a regular file, None for a pipe or a terminal."""
    try:
        status = os.fstat(stream.fileno())
    except (OSError, ValueError, io.UnsupportedOperation):
        return None
    return status.st_size if status.st_size > 0 and not os.isatty(stream.fileno()) else None


def lines(stream: BinaryIO, name: str, before_wait: Callable[[], None],
          unmarked: bool = False) -> Iterator[tuple[int, str, int]]:
    """(line number from 1, text without its line ending, bytes read so far) for every line.

    Reads a chunk at a time, so memory stays bounded by the chunk and the
    longest line. Lines end at a line feed only; a carriage return before it
    is dropped as well. A UTF-8 byte-order mark before the first line is
    skipped; UTF-16 and UTF-32 input, told by its mark (with unmarked, also
    by its zero bytes; see wide_encoding), is decoded.
    before_wait() runs before every read that may block, so that output can
    be flushed while the input is slow (a pipe from a program still running).
    """
    encoding = wide_encoding(head_of(stream), unmarked)
    if encoding is not None:
        yield from _wide_lines(stream, name, encoding)
        return
    number = 0
    consumed = 0
    for raw, consumed in _raw_lines(stream, before_wait):
        number += 1
        if number == 1 and raw.startswith(codecs.BOM_UTF8):
            raw = raw[len(codecs.BOM_UTF8):]
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError as error:
            raise InputError(f"{name}:{number}: not UTF-8 text (byte {error.start} of the line: {error.reason})") \
                from None
        yield number, text[:-1] if text.endswith("\r") else text, consumed


def _raw_lines(stream: BinaryIO, before_wait: Callable[[], None]) -> Iterator[tuple[bytes, int]]:
    """Every line without its line feed, and the bytes read up to its chunk."""
    read = getattr(stream, "read1", stream.read)  # read1: what is there, without waiting for a full chunk
    pending: list[bytes] = []  # pieces of a line longer than a chunk, joined once
    consumed = 0
    while True:
        before_wait()
        chunk = read(_CHUNK)
        if not chunk:
            break
        consumed += len(chunk)
        parts = chunk.split(b"\n")
        if len(parts) > 1:
            if pending:
                pending.append(parts[0])
                parts[0] = b"".join(pending)
                pending = []
            for part in parts[:-1]:
                yield part, consumed
        if parts[-1]:
            pending.append(parts[-1])
    if pending:
        yield b"".join(pending), consumed


def _wide_lines(stream: BinaryIO, name: str, encoding: str) -> Iterator[tuple[int, str, int]]:
    unit = 2 if encoding.startswith("UTF-16") else 4
    text = io.TextIOWrapper(stream, encoding=encoding, newline="\n")
    number, consumed = 0, 0
    try:
        for number, line in enumerate(text, 1):
            consumed += len(line) * unit  # close enough for a progress display
            yield number, _strip_line_ending(line), consumed
    except UnicodeDecodeError as error:
        raise InputError(f"{name}:{number + 1}: not {encoding} text ({error.reason})") from None
    finally:
        text.detach()  # leaves the stream open for its owner


def _strip_line_ending(text: str) -> str:
    if text.endswith("\n"):
        text = text[:-1]
        if text.endswith("\r"):
            text = text[:-1]
    return text


class Output:
    """Standard output or a file, written through one path: every byte, or an InputError.

    Texts are gathered and written in blocks of about _CHUNK characters,
    straight to the file descriptor with os.write, repeated until the whole
    block is written: a buffered stream may report a short write (a disk
    that fills up, a reader that goes away) as a smaller count that is easy
    to miss, and a count that is never checked loses the rest. A file is
    opened on the first block, and ended by close(): see OutputFile for
    which files are replaced only when the run succeeds. Used as a context
    manager, any exception out of the block counts as a failed run.
    """

    def __init__(self, path: Optional[str]) -> None:
        self._file = None if path is None or path == "-" else OutputFile(path)
        self.name = "standard output" if self._file is None else self._file.path
        self._fd: Optional[int] = None
        self._pending: list[str] = []
        self._size = 0

    def __enter__(self) -> Output:
        return self

    def __exit__(self, kind: object, error: object, trace: object) -> None:
        self.close(succeeded=kind is None)

    def write(self, text: str) -> None:
        self._pending.append(text)
        self._size += len(text)
        if self._size >= _CHUNK:
            self._drain()

    def flush(self) -> None:
        """Writes what is gathered: nothing is held back in a buffer below this one."""
        self._drain()

    def close(self, succeeded: bool = True) -> None:
        """Ends the output, its last block written and a file's close checked.

        After a successful run the file is in place, even when nothing was
        written to it. After a failed one, a file that would have replaced
        another is dropped and the other kept; standard output and anything
        else written directly get what the run produced before it failed.
        """
        file = self._file
        if file is None:
            self._drain()
            return
        if not succeeded and file.replaces:
            file.discard()
            return
        try:
            self._drain()
            if succeeded:
                self._open()
        except BaseException:
            file.discard()
            raise
        self._guard(file.commit if succeeded else file.discard)

    def _drain(self) -> None:
        if not self._pending:
            return
        data = "".join(self._pending).encode("utf-8")
        self._pending, self._size = [], 0
        fd = self._open()
        self._guard(lambda: write_all(fd, data))

    def _open(self) -> int:
        if self._fd is None:
            file = self._file
            self._fd = self._guard(_stdout_fd if file is None else file.open)
        return self._fd

    def _guard(self, action: Callable[[], T]) -> T:
        try:
            return action()
        except BrokenPipeError:
            raise
        except OSError as error:
            raise InputError(f"cannot write {self.name}: {error.strerror or error}") from None


def write_text(path: Optional[str], text: str) -> None:
    """Writes a whole output at once (standard output for None or '-')."""
    with Output(path) as output:
        output.write(text)


def _stdout_fd() -> int:
    """Standard output's descriptor, after anything already written through sys.stdout."""
    if sys.stdout is None:
        raise InputError("cannot write standard output: it is closed")
    sys.stdout.flush()
    return sys.stdout.fileno()


def write_all(fd: int, data: bytes) -> None:
    """Writes every byte of data to fd, or raises OSError.

    write(2) may take only part of a block (a disk filling up, a pipe whose
    reader left, a signal): the rest is written again until none is left,
    so the next call reports the error. A descriptor left non-blocking by
    another program is waited on rather than given up.
    """
    view = memoryview(data)
    while view:
        try:
            written = os.write(fd, view)
        except BlockingIOError:
            select.select([], [fd], [])
            continue
        if written <= 0:  # no progress and no error: a loop here would never end
            raise OSError(errno.EIO, os.strerror(errno.EIO))
        view = view[written:]
