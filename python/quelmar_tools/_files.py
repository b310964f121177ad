"""Files on the way into quelmar: a private temporary folder that is removed
on every path out, and loads whose failures become ordinary exceptions."""

from __future__ import annotations

import contextlib
import os
import re
import shutil
import tempfile
from typing import Callable, Iterator, TypeVar, Union

T = TypeVar("T")

PathLike = Union[str, "os.PathLike[str]"]

_UNWRAP_PREFIX = "called `Result::unwrap()` on an `Err` value: "
_OS_ERROR = re.compile(r"^(?P<text>.*) \(os error (?P<errno>\d+)\)$", re.DOTALL)


_MEMORY_FOLDER = "/dev/shm"


def _parent_folder(size_hint: int) -> str | None:
    """Where temporary files go: the memory file system when it has room for
    twice the expected size (files there never touch a disk), unless TMPDIR
    says otherwise; else the default temporary folder."""
    if os.environ.get("TMPDIR") or not os.path.isdir(_MEMORY_FOLDER):
        return None
    try:
        free = shutil.disk_usage(_MEMORY_FOLDER).free
    except OSError:
        return None
    return _MEMORY_FOLDER if free >= 2 * size_hint and os.access(_MEMORY_FOLDER, os.W_OK) else None


@contextlib.contextmanager
def private_folder(size_hint: int = 0) -> Iterator[str]:
    """A new folder only this process uses, for files of about `size_hint`
    bytes; removed with its content when the block ends, however it ends (an
    exception or Ctrl-C included)."""
    folder = tempfile.mkdtemp(prefix="quelmar_tools-", dir=_parent_folder(size_hint))
    try:
        yield folder
    finally:
        shutil.rmtree(folder, ignore_errors=True)


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


def is_panic(error: BaseException) -> bool:
    return type(error).__name__ == "PanicException"


def panic_message(error: BaseException) -> str:
    text = str(error.args[0]) if error.args else ""
    return text[len(_UNWRAP_PREFIX):] if text.startswith(_UNWRAP_PREFIX) else text


def load(step: Callable[[], T], path: str | None) -> T:
    """Runs a load of the module; its failure (a PanicException, which is no
    Exception) becomes an OSError for operating-system errors and a
    ValueError for the file's content. `path` is None for files of our own."""
    try:
        return step()
    except BaseException as error:
        if not is_panic(error):
            raise
        message = panic_message(error)
        failure = _OS_ERROR.match(message)
        if failure and path is not None:
            raise OSError(int(failure["errno"]), failure["text"], path) from None
        where = f"cannot load {path}: " if path is not None else ""
        raise ValueError(where + message) from None
