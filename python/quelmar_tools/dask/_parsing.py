"""Input files cut into tasks, parsed on the workers: text into blocks of
whole lines, Parquet into runs of whole row groups.

A block is a byte range [start, end) of one file; it holds every line that
begins inside the range, read to its line feed (or the end of the file). So
the blocks of a file hold each line exactly once, whatever the block size,
and a line's number is one more than the line feeds before it, counted only
when a message needs it. A Parquet row's position is its file and its row
within the file, counted over the row groups actually read.
"""

from __future__ import annotations

import contextlib
import glob
import os
from dataclasses import dataclass
from typing import Any, BinaryIO, Iterator, Literal, NoReturn, Sequence, Union

import numpy as np
import numpy.typing as npt
from quelmar_tools import _native
from quelmar_tools.integers import U64
from quelmar_tools.dask._scramble import scramble

Kind = Literal["edges", "clustering"]
Source = Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]]]
Buffer = Union[bytes, bytearray]
# Parsed rows, one array per column: edges (lo, hi), memberships (node,
# cluster, pos).
Rows = tuple[U64, ...]

BLOCK_BYTES = 16 << 20
# Positions of membership lines: the file's index above this many bits, the
# line's byte offset (or, in Parquet, its row) below.
POSITION_BITS = 44


class LineError(ValueError):
    """A malformed line of an input file, as the Dask path reports it.

    Its text is "file:line: message", the message being the module's own
    for that line (for Parquet, the file and the row within it, counted
    from 0). Of several, the first in the order of the files as given. A
    ValueError, as the module's loaders raise one.

    Examples
    --------
    >>> import os, tempfile, numpy as np, quelmar_tools.dask
    >>> folder = tempfile.mkdtemp()
    >>> edges = os.path.join(folder, "edges.txt")
    >>> clusters = os.path.join(folder, "clusters.txt")
    >>> with open(edges, "w") as out:
    ...     _ = out.write("1 2\\n3\\n")
    >>> np.savetxt(clusters, [[1, 0], [2, 0]], fmt="%d")
    >>> try:
    ...     quelmar_tools.dask.statistics(edges, clusters)
    ... except quelmar_tools.dask.LineError as error:
    ...     print(str(error).replace(edges, "edges.txt"))
    edges.txt:2: missing to
    """


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
    return parquet_files(paths) if is_parquet(paths) else paths


def is_parquet(paths: list[str]) -> bool:
    return all(p.endswith((".parquet", ".pq")) or os.path.isdir(p) for p in paths)


def blocks(paths: list[str], block_bytes: int = BLOCK_BYTES) -> list[Block]:
    out: list[Block] = []
    for index, path in enumerate(paths):
        size = os.path.getsize(path)  # also raises for a missing file
        out.extend(Block(path, index, s, min(s + block_bytes, size))
                   for s in range(0, max(size, 1), block_bytes))
    return out


@contextlib.contextmanager
def block_data(block: Block) -> Iterator[tuple[Buffer, int]]:
    """The lines that begin in the block, and the offset of the first, read
    with one copy: where they end is found first, then they are read
    straight into one buffer. A file shorter than when it was cut into
    blocks is an OSError, never a silently shorter input. (Mapping the file
    would spare the copy, but a file that shrank during the job would then
    kill the worker with SIGBUS.)"""
    with open(block.path, "rb") as file:
        size = os.fstat(file.fileno()).st_size
        if size < block.end:
            _shrank(block, size)
        begin = block.start
        if begin > 0:
            file.seek(begin - 1)
            begin += len(_read_through_line_feed(file)) - 1
        if begin >= block.end:
            yield b"", begin
            return
        file.seek(block.end - 1)
        end = block.end - 1 + len(_read_through_line_feed(file))
        data = bytearray(end - begin)
        file.seek(begin)
        filled = 0
        with memoryview(data) as view:
            while filled < len(data):
                got = file.readinto(view[filled:])
                if not got:
                    break
                filled += got
        if filled < len(data):
            _shrank(block, begin + filled)
        yield data, begin


def _shrank(block: Block, size: int) -> NoReturn:
    raise OSError(f"{block.path} shrank to {size} bytes during the job "
                  f"(it had at least {block.end} when it was cut into blocks)")


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


def no_rows(kind: Kind) -> Rows:
    return tuple(np.array([], np.uint64) for _ in range(2 if kind == "edges" else 3))


def parse_block(block: Block, kind: Kind) -> tuple[Rows, str | None]:
    """Edges as (lo, hi) or memberships as (node, cluster, pos), scrambled;
    or no rows and the LineError message of the block's first bad line. The
    failure travels as a value so that the job can name the first one in
    file order, whichever task fails first."""
    with block_data(block) as (data, begin):
        first_bytes, second_bytes, failure = _native.parse_lines(data, kind == "clustering")
        if failure is not None:
            return no_rows(kind), _message(block, begin, failure)
        first = scramble(np.frombuffer(first_bytes, np.uint64))
        second = scramble(np.frombuffer(second_bytes, np.uint64))
        if kind == "edges":
            return _edges(first, second), None
        feeds = np.frombuffer(data, np.uint8) == 10
        starts = np.r_[0, np.flatnonzero(feeds) + 1]
    position = (np.uint64(block.file_index) << np.uint64(POSITION_BITS)) + \
        (starts[: first.size].astype(np.uint64) + np.uint64(begin))
    return (first, second, position), None


def parse_routed(block: Block, kind: Kind, parts: int) -> tuple[list[Rows], str | None]:
    """parse_block's rows grouped by partition of their first column, one
    piece per partition (as _stages.routed groups them), in one native pass."""
    with block_data(block) as (data, begin):
        pieces, failure = _native.route_lines(
            data, kind == "clustering", (block.file_index << POSITION_BITS) + begin, parts)
    if failure is not None:
        return [no_rows(kind)] * parts, _message(block, begin, failure)
    return [tuple(np.frombuffer(c, np.uint64) for c in p) for p in pieces], None


def _message(block: Block, begin: int, failure: tuple[int, str]) -> str:
    line_index, message = failure
    return f"{block.path}:{_line_number(block.path, begin, line_index)}: {message}"


def _edges(first: U64, second: U64) -> Rows:
    return np.minimum(first, second), np.maximum(first, second)


def raise_first(*failures: str | None) -> None:
    """Raises the LineError of the first failed block, blocks being given in
    the order of the files and of the lines within them."""
    for failure in failures:
        if failure is not None:
            raise LineError(failure)


def _line_number(path: str, begin: int, line_index: int) -> int:
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
    return path, _line_number(path, offset, 0), line.rstrip(b"\n")


@dataclass(frozen=True)
class RowGroups:
    """Consecutive row groups of one Parquet file, read by one task."""

    path: str
    file_index: int
    groups: tuple[int, ...]
    first_row: int  # in the file, of the first group
    columns: tuple[str, str]


def parquet_files(paths: list[str]) -> list[str]:
    """The Parquet files of the given files and dataset folders, in order
    (a folder's files in the order pyarrow lists them)."""
    import pyarrow.dataset as ds

    files: list[str] = []
    for path in paths:
        files.extend(ds.dataset(path, format="parquet").files if os.path.isdir(path) else [path])
    return files


def _name_columns(schema: Any) -> tuple[str, str]:
    """The first two data columns (a pandas index stored as a column is not one)."""
    index = set()
    if schema.pandas_metadata:
        index = {c for c in schema.pandas_metadata.get("index_columns", []) if isinstance(c, str)}
    names = [n for n in schema.names if n not in index]
    if len(names) < 2:
        raise ValueError(f"a Parquet file needs two columns of names, not {names}")
    return names[0], names[1]


def row_groups(files: list[str], rows_per_task: int) -> list[RowGroups]:
    """Tasks of whole row groups, about rows_per_task rows each, in file order."""
    import pyarrow.parquet as pq

    out: list[RowGroups] = []
    for index, path in enumerate(files):
        with pq.ParquetFile(path) as file:
            columns = _name_columns(file.schema_arrow)
            meta = file.metadata
            groups: list[int] = []
            start = rows = 0
            for group in range(meta.num_row_groups):
                count = meta.row_group(group).num_rows
                if groups and rows + count > rows_per_task:
                    out.append(RowGroups(path, index, tuple(groups), start, columns))
                    start += rows
                    groups, rows = [], 0
                groups.append(group)
                rows += count
            if groups:
                out.append(RowGroups(path, index, tuple(groups), start, columns))
    return out


def read_row_groups(piece: RowGroups, kind: Kind) -> tuple[Rows, str | None]:
    """parse_block's result for Parquet rows: the two name columns only."""
    import pyarrow.parquet as pq

    with pq.ParquetFile(piece.path) as file:
        table = file.read_row_groups(list(piece.groups), columns=list(piece.columns))
    names = [_unsigned(table.column(i).to_numpy(), piece.path) for i in (0, 1)]
    first, second = (scramble(n) for n in names)
    if kind == "edges":
        return _edges(first, second), None
    position = np.uint64((piece.file_index << POSITION_BITS) + piece.first_row) + \
        np.arange(first.size, dtype=np.uint64)
    return (first, second, position), None


def _unsigned(column: npt.NDArray[Any], path: str) -> U64:
    if column.dtype != np.uint64 and not (column.dtype.kind in "iu" and (column >= 0).all()):
        raise TypeError(f"{path}: Parquet name columns must hold unsigned 64-bit integers, "
                        f"not {column.dtype}")
    return column.astype(np.uint64, copy=False)


def parquet_node(files: list[str], position: int) -> tuple[str, int, int]:
    """File, row and node name of a membership row of Parquet input."""
    import pyarrow.parquet as pq

    path = files[position >> POSITION_BITS]
    row = position & ((1 << POSITION_BITS) - 1)
    with pq.ParquetFile(path) as file:
        column = _name_columns(file.schema_arrow)[0]
        start = 0
        for group in range(file.metadata.num_row_groups):
            count = file.metadata.row_group(group).num_rows
            if row < start + count:
                names = file.read_row_group(group, columns=[column]).column(0).to_numpy()
                return path, row, int(names[row - start])
            start += count
    raise IndexError(f"{path} has no row {row}")
