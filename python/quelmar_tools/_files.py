"""Paths on the way into the native loaders."""

from __future__ import annotations

import os
from typing import Union

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
