"""Every call into Dask, behind the types the package relies on.

Dask ships its functions without annotations, so a type checker sees each
call as untyped. They are made here, through names typed Any, and nowhere
else; the rest of the package sees typed signatures only.
"""

from __future__ import annotations

from typing import Any, Callable, Sequence

import dask
import dask.dataframe as dd
import numpy as np
import numpy.typing as npt
import pandas as pd
from dask.dataframe.shuffle import partitioning_index as _untyped_partitioning_index

_dask: Any = dask
_dd: Any = dd
_partitioning_index: Any = _untyped_partitioning_index


def delayed(function: Callable[..., Any], *, nout: int | None = None) -> Callable[..., Any]:
    """function as a task: calling the result records a call and returns its
    Delayed value (a tuple of nout of them when nout is given)."""
    made: Callable[..., Any] = _dask.delayed(function, nout=nout)
    return made


def constant(value: object) -> Any:
    """A value shared by many tasks, sent to the workers once."""
    return _dask.delayed(value, pure=True)


def compute(client: Any, values: Sequence[Any]) -> tuple[Any, ...]:
    """The values computed on the client's cluster, or with Dask's default
    scheduler when client is None."""
    if client is not None:
        return tuple(client.gather(client.compute(list(values))))
    return tuple(_dask.compute(*values))


def from_map(function: Callable[..., pd.DataFrame], items: Sequence[Any],
             meta: pd.DataFrame, **kwargs: Any) -> dd.DataFrame:
    """A frame of one partition per item, function(item, **kwargs)."""
    frame: dd.DataFrame = _dd.from_map(function, items, meta=meta, enforce_metadata=False,
                                       **kwargs)
    return frame


def from_delayed(parts: Sequence[Any], meta: pd.DataFrame) -> dd.DataFrame:
    frame: dd.DataFrame = _dd.from_delayed(list(parts), meta=meta, verify_meta=False)
    return frame


def hash_shuffled(frame: dd.DataFrame, column: str, partitions: int,
                  method: str | None) -> list[Any]:
    """The frame shuffled by a hash of one column, one Delayed per partition."""
    untyped: Any = frame
    shuffled = untyped.shuffle(column, npartitions=partitions, shuffle_method=method)
    return list(shuffled.to_delayed())


def partition_numbers(keys: pd.DataFrame, partitions: int) -> npt.NDArray[np.int64]:
    """The partitions hash_shuffled sends these rows to."""
    numbers: npt.NDArray[np.int64] = np.asarray(_partitioning_index(keys, partitions))
    return numbers


def read_parquet(paths: list[str]) -> dd.DataFrame:
    frame: dd.DataFrame = _dd.read_parquet(paths)
    return frame


def map_partitions(frame: dd.DataFrame, function: Callable[..., pd.DataFrame], *args: Any,
                   meta: pd.DataFrame, **kwargs: Any) -> dd.DataFrame:
    untyped: Any = frame
    mapped: dd.DataFrame = untyped.map_partitions(function, *args, meta=meta, **kwargs)
    return mapped


def partition(frame: dd.DataFrame, number: int) -> pd.DataFrame:
    """One partition, computed."""
    untyped: Any = frame
    part: pd.DataFrame = untyped.partitions[number].compute()
    return part
