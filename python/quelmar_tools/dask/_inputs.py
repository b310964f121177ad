"""Input files split into blocks of whole lines, parsed on the workers.

A block is a byte range [start, end) of one file; it holds every line that
begins inside the range, read to its line feed (or the end of the file). So
the blocks of a file hold each line exactly once, whatever the block size,
and a line's number is one more than the line feeds before it, counted only
when a message needs it.
"""

from __future__ import annotations

import glob
import os
from contextlib import contextmanager
from dataclasses import dataclass
from typing import TYPE_CHECKING, BinaryIO, Iterator, Literal, Sequence, Union

import numpy as np
import numpy.typing as npt
import pandas as pd

from quelmar_tools import _native
from quelmar_tools.dask import _calls
from quelmar_tools.dask._names import scramble

if TYPE_CHECKING:
    import dask.dataframe as dd

Kind = Literal["edges", "clustering"]
Source = Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]]]
U64 = npt.NDArray[np.uint64]

BLOCK_BYTES = 16 << 20
# Positions of membership lines: the file's index above this many bits, the
# line's byte offset (or, in Parquet, its row) below.
POSITION_BITS = 44


class LineError(ValueError):
    """A malformed line: "file:line: message", the message being the
    module's own for that line."""


@dataclass(frozen=True)
class Block:
    path: str
    file_index: int
    start: int
    end: int


def expand(source: Source) -> list[str]:
    """The files a source names, in order: a path, a glob, or a list of them."""
    items = [source] if isinstance(source, (str, os.PathLike)) else list(source)
    paths: list[str] = []
    for item in items:
        text = os.fspath(item)
        matches = sorted(glob.glob(text)) if glob.has_magic(text) else [text]
        if not matches:
            raise FileNotFoundError(f"no file matches {text}")
        paths.extend(matches)
    if not paths:
        raise ValueError("no input files given")
    return paths


def is_parquet(paths: list[str]) -> bool:
    return all(p.endswith((".parquet", ".pq")) or os.path.isdir(p) for p in paths)


def blocks(paths: list[str], block_bytes: int = BLOCK_BYTES) -> list[Block]:
    out: list[Block] = []
    for index, path in enumerate(paths):
        size = os.path.getsize(path)  # also raises for a missing file
        out.extend(Block(path, index, s, min(s + block_bytes, size))
                   for s in range(0, max(size, 1), block_bytes))
    return out


def read_block(block: Block) -> tuple[bytes, int]:
    """The lines that begin in the block, and the offset of the first."""
    with open(block.path, "rb") as file:
        begin = block.start
        if begin > 0:
            file.seek(begin - 1)
            skipped = _read_through_line_feed(file)
            begin += len(skipped) - 1
        if begin >= block.end:
            return b"", begin
        file.seek(begin)
        data = file.read(block.end - begin)
        if data and not data.endswith(b"\n"):
            data += _read_through_line_feed(file)
        return data, begin


def _read_through_line_feed(file: BinaryIO) -> bytes:
    pieces = []
    while True:
        piece = file.read(1 << 16)
        if not piece:
            break
        cut = piece.find(b"\n")
        if cut >= 0:
            pieces.append(piece[: cut + 1])
            break
        pieces.append(piece)
    return b"".join(pieces)


def parse_block(block: Block, kind: Kind) -> pd.DataFrame:
    """Edges as (lo, hi) or memberships as (node, cluster, pos), scrambled."""
    data, begin = read_block(block)
    first_bytes, second_bytes, failure = _native.parse_lines(data, kind == "clustering")
    if failure is not None:
        line_index, message = failure
        raise LineError(f"{block.path}:{_line_number(block.path, begin, data, line_index)}: "
                        f"{message}")
    first = scramble(np.frombuffer(first_bytes, np.uint64))
    second = scramble(np.frombuffer(second_bytes, np.uint64))
    if kind == "edges":
        return pd.DataFrame({"lo": np.minimum(first, second), "hi": np.maximum(first, second)})
    starts = np.r_[0, np.flatnonzero(np.frombuffer(data, np.uint8) == 10) + 1]
    position = (np.uint64(block.file_index) << np.uint64(POSITION_BITS)) + \
        (starts[: first.size].astype(np.uint64) + np.uint64(begin))
    return pd.DataFrame({"node": first, "cluster": second, "pos": position})


def _line_number(path: str, begin: int, data: bytes, line_index: int) -> int:
    before = 0
    with open(path, "rb") as file:
        remaining = begin
        while remaining > 0:
            piece = file.read(min(remaining, 1 << 24))
            if not piece:
                break
            before += piece.count(b"\n")
            remaining -= len(piece)
    return before + line_index + 1


def line_at(paths: list[str], position: int) -> tuple[str, int, bytes]:
    """File, line number and bytes of a membership line (text input)."""
    path = paths[position >> POSITION_BITS]
    offset = position & ((1 << POSITION_BITS) - 1)
    with open(path, "rb") as file:
        file.seek(offset)
        line = _read_through_line_feed(file)
    return path, _line_number(path, offset, b"", 0), line.rstrip(b"\n")


def parquet_frame(paths: list[str], kind: Kind) -> dd.DataFrame:
    """A Dask frame of the first two columns of Parquet files, as unsigned
    64-bit names."""
    frame = _calls.read_parquet(paths)
    first, second = list(frame.columns)[:2]
    meta = (pd.DataFrame({"lo": np.array([], np.uint64), "hi": np.array([], np.uint64)})
            if kind == "edges" else
            pd.DataFrame({k: np.array([], np.uint64) for k in ("node", "cluster", "pos")}))
    return _calls.map_partitions(frame[[first, second]], _from_parquet_part, kind, meta=meta,
                                 partition_info=True)


def parquet_node(paths: list[str], number: int, row: int) -> int:
    """The node name of a membership row of Parquet input."""
    part = _calls.partition(_calls.read_parquet(paths), number)
    return int(part.iloc[:, 0].to_numpy(np.uint64)[row])


def _from_parquet_part(part: pd.DataFrame, kind: Kind,
                       partition_info: dict[str, int] | None = None) -> pd.DataFrame:
    columns = [part.iloc[:, i] for i in (0, 1)]
    for column in columns:
        if column.dtype != np.uint64 and not (column.dtype.kind in "iu" and (column >= 0).all()):
            raise TypeError(f"Parquet columns must hold unsigned 64-bit integers, not {column.dtype}")
    first, second = (scramble(c.to_numpy(np.uint64)) for c in columns)
    if kind == "edges":
        return pd.DataFrame({"lo": np.minimum(first, second), "hi": np.maximum(first, second)})
    number = (partition_info or {"number": 0})["number"]
    position = (np.uint64(number) << np.uint64(POSITION_BITS)) + np.arange(first.size, dtype=np.uint64)
    return pd.DataFrame({"node": first, "cluster": second, "pos": position})


def first_error(groups: Sequence[tuple[list[str], Kind]]) -> LineError | None:
    """The first malformed line of the text files, in the order given: the
    error the module would meet first loading them one after the other."""
    for paths, kind in groups:
        if is_parquet(paths):
            continue
        checks = [_calls.delayed(_check_block)(b, kind) for b in blocks(paths)]
        for failure in _calls.compute(None, checks):
            if failure is not None:
                return LineError(failure)
    return None


def _check_block(block: Block, kind: Kind) -> str | None:
    try:
        parse_block(block, kind)
    except LineError as error:
        return str(error)
    return None


@contextmanager
def located(edges: list[str], *clusterings: list[str]) -> Iterator[None]:
    """Turns the first LineError that a task raised into the first one of the
    input in file order (tasks fail in no particular order)."""
    try:
        yield
    except LineError as error:
        first = first_error([(edges, "edges"), *((c, "clustering") for c in clusterings)])
        raise (first or error) from None
