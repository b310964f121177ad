"""Paths on the way into the native loaders, and files written whole or
not at all."""

from __future__ import annotations

import contextlib
import os
import tempfile
from typing import Iterator, TextIO, Union

PathLike = Union[str, "os.PathLike[str]"]


def existing_file(path: PathLike) -> str:
    """The path as a str, after checking that it names a readable file."""
    if not isinstance(path, (str, os.PathLike)):
        raise TypeError(f"expected a path, got {type(path).__name__}")
    text = os.fspath(path)
    if not isinstance(text, str):
        raise TypeError(f"expected a str path, got bytes {text!r}")
    if not os.path.exists(text):
        raise FileNotFoundError(2, "No such file or directory", text)
    if os.path.isdir(text):
        raise IsADirectoryError(21, "Is a directory", text)
    return text


@contextlib.contextmanager
def atomic_text(path: PathLike) -> Iterator[TextIO]:
    """A text stream whose contents replace `path` once the block ends
    without an exception. It writes a temporary file in the same folder (a
    rename within one file system is atomic), so a failed or interrupted
    write leaves no partial file and an existing one unchanged."""
    target = os.fspath(path)
    folder = os.path.dirname(os.path.abspath(target))
    try:
        handle, temporary = tempfile.mkstemp(prefix=".", suffix=".part", dir=folder)
    except OSError as error:  # named for the file asked, not the temporary one
        raise type(error)(error.errno, error.strerror, target) from None
    try:
        with os.fdopen(handle, "w", encoding="utf-8", newline="\n") as out:
            yield out
            out.flush()
            os.fsync(out.fileno())
        # mkstemp makes the file private; give it the mode open() would.
        os.chmod(temporary, 0o666 & ~_umask())
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask
