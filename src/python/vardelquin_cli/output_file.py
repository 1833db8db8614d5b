"""The file that -o names: replaced whole when the run succeeds, never left half-written.

A regular file, or one that does not exist yet, is written to a temporary
file beside it and renamed over it at the end, in one step: a run that
fails or is interrupted leaves the old file as it was, and an output that
names the input converts it in place (the input is read from the original
while the new one is written). Anything else (/dev/null, /dev/stdout, a
FIFO, a terminal) is written directly, as a plain open() would: renaming
over it would put a file where the device or pipe was.
"""

from __future__ import annotations

import contextlib
import errno
import os
import secrets
import stat
from typing import Optional

_NAME_ATTEMPTS = 100  # random names that all exist already mean something else is wrong


class OutputFile:
    """The destination of -o, classified when made and opened by open(); ended by commit() or discard()."""

    def __init__(self, path: str) -> None:
        self.path = path
        self._status: Optional[os.stat_result] = None
        try:
            self._status = os.stat(path)
        except FileNotFoundError:
            self.replaces = True  # a new file, or the missing target of a symlink
        except OSError:
            self.replaces = False  # left to open(), which reports it (a folder that cannot be searched, a loop)
        else:
            self.replaces = stat.S_ISREG(self._status.st_mode)
        # The file a symlink names is replaced, so the link keeps pointing at
        # the converted file. Only then: /dev/stdout resolves to a name in
        # /proc that is no file at all.
        self._target = os.path.realpath(path) if self.replaces else path
        self._temporary: Optional[str] = None
        self.fd: Optional[int] = None

    def open(self) -> int:
        """The descriptor to write to; raises OSError."""
        if self.fd is None:
            if self.replaces:
                self._open_temporary()
            else:
                self.fd = os.open(self.path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666)
        assert self.fd is not None
        return self.fd

    def commit(self) -> None:
        """Puts what was written in place of the file; on failure (OSError) the old file stays."""
        try:
            self._close()
            if self._temporary is not None:
                os.replace(self._temporary, self._target)
                self._temporary = None
        finally:
            self.discard()

    def discard(self) -> None:
        """Drops what was written to a replacement, leaving the old file as it was; never raises."""
        with contextlib.suppress(OSError):
            self._close()
        if self._temporary is not None:
            with contextlib.suppress(OSError):
                os.unlink(self._temporary)
            self._temporary = None

    def _close(self) -> None:
        fd, self.fd = self.fd, None
        if fd is not None:
            os.close(fd)

    def _open_temporary(self) -> None:
        existing = self._status
        if existing is not None and not os.access(self._target, os.W_OK):
            # A file the tool could not open for writing is not replaced either.
            raise PermissionError(errno.EACCES, os.strerror(errno.EACCES), self.path)
        folder, name = os.path.split(self._target)
        for _ in range(_NAME_ATTEMPTS):
            temporary = os.path.join(folder, f".{name}.{secrets.token_hex(4)}")
            try:
                # Mode 0o666, as open() gives a new file: the umask (or the
                # folder's default ACL) applies, where mkstemp would give 0o600.
                fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0), 0o666)
            except FileExistsError:
                continue
            self.fd, self._temporary = fd, temporary
            if existing is not None:
                self._keep_owner_and_mode(fd, temporary, existing)
            return
        raise FileExistsError(errno.EEXIST, "no free temporary name beside it", self.path)

    def _keep_owner_and_mode(self, fd: int, temporary: str, existing: os.stat_result) -> None:
        try:
            if hasattr(os, "fchown"):
                # Only root may give a file to another owner; anyone else's
                # replacement is theirs, as with an editor that saves by renaming.
                with contextlib.suppress(OSError):
                    os.fchown(fd, existing.st_uid, existing.st_gid)
            os.chmod(temporary, stat.S_IMODE(existing.st_mode))  # after chown, which clears set-id bits
        except OSError:
            self.discard()
            raise
