"""Pieces as pandas frames and back, for the steps that go through Dask
dataframes: Dask's own shuffle (when the rows do not fit in worker memory),
the agreement path and the per-cluster table. Kept apart from the joins
(_stages) so that a worker that only runs them never loads pandas."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt
import pandas as pd

from quelmar_tools.dask._stages import Piece

EDGE_META = pd.DataFrame({"lo": np.array([], np.uint64), "hi": np.array([], np.uint64)})
MEMBER_META = pd.DataFrame(
    {k: np.array([], np.uint64) for k in ("node", "cluster", "pos")}
)
# Frames of the transport through Dask's shuffle (_pipeline).
HI_META = pd.DataFrame({"hi": np.array([], np.uint64), "cluster": np.array([], np.uint64),
                        "tag": np.array([], np.uint8), "lo": np.array([], np.uint64)})
PARTIAL_META = pd.DataFrame({k: np.array([], np.uint64) for k in
                             ("cluster", "n", "vol", "mcd", "minnode", "loops", "internal")})
UNKNOWN_META = pd.DataFrame({k: np.array([], np.uint64) for k in ("cluster", "pos")})
SINGLE_META = pd.DataFrame({"node": np.array([], np.uint64)})


def frame(columns: dict[str, npt.NDArray[Any]]) -> pd.DataFrame:
    """A frame over the arrays as they are, one block per column. (By
    default pandas copies same-typed columns into one 2-D block, which costs
    more than most steps here and makes every later row selection, as in
    the shuffles, several times slower.)"""
    return pd.DataFrame(columns, copy=False)


def as_piece(frame: pd.DataFrame) -> Piece:
    """A frame's columns as a piece."""
    return tuple(frame[c].to_numpy() for c in frame.columns)


def as_frame(piece: Piece, meta: pd.DataFrame) -> pd.DataFrame:
    """A piece as a frame with meta's columns."""
    return frame(dict(zip(meta.columns, piece, strict=True)))


def sent(pieces: list[Piece], meta: pd.DataFrame, first: int) -> pd.DataFrame:
    """Columns first.. of a sender's only piece (routed over one partition)
    as a frame for Dask's shuffle."""
    return as_frame(pieces[0][first:first + len(meta.columns)], meta)


def received(*frames: pd.DataFrame) -> list[Piece]:
    """What Dask's shuffle delivered to a partition, as one piece of the
    contiguous arrays the native steps read."""
    return [tuple(np.ascontiguousarray(c) for c in sum((as_piece(f) for f in frames), ()))]
