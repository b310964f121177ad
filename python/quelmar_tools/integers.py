"""Checking and converting node names and cluster ids: unsigned 64-bit
integers, as the module's files hold them."""

from __future__ import annotations

import operator
from typing import Any

import numpy as np
import numpy.typing as npt

UInt64Array = npt.NDArray[np.uint64]

_LIMIT = 1 << 64


def as_integer(value: Any, what: str) -> int:
    """One name or id as a Python int in [0, 2**64), or TypeError/ValueError
    naming the value."""
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{what} {value!r} is not an integer")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} {value!r} is not an integer") from None
    if not 0 <= number < _LIMIT:
        raise ValueError(f"{what} {number} is outside [0, 2**64)")
    return number


def as_uint64(values: Any, what: str) -> UInt64Array:
    """An array-like of names or ids as a uint64 array (same shape), or
    TypeError/ValueError naming the first offending value."""
    array = values if isinstance(values, np.ndarray) else np.asarray(values)
    kind = array.dtype.kind
    if kind == "u":
        return array.astype(np.uint64, copy=False)
    if kind == "i":
        if array.size and array.min() < 0:
            raise ValueError(f"{what} {int(array[array < 0].flat[0])} is outside [0, 2**64)")
        return array.astype(np.uint64)
    if array.size == 0:
        return np.empty(array.shape, dtype=np.uint64)
    # Anything else is checked value by value, which names the first bad one
    # (numpy turns a list mixing names above 2**63 with others into floats).
    if not isinstance(values, np.ndarray) or kind != "O":
        array = np.asarray(values, dtype=object)
    flat = [as_integer(value, what) for value in array.flat]
    return np.array(flat, dtype=np.uint64).reshape(array.shape)


def as_pairs(values: Any, what: str) -> UInt64Array:
    """A (k, 2) array-like as a C-contiguous uint64 array. Other shapes are
    refused rather than guessed at: a (2, k) array (the edge-index layout of
    graph-learning libraries) and arrays of three or more columns would
    otherwise be read as something else. A (2, 2) array is two rows."""
    array = as_uint64(values, what)
    if array.ndim == 2 and array.shape[1] == 2:
        return np.ascontiguousarray(array)
    if array.size == 0:
        return np.empty((0, 2), dtype=np.uint64)
    shape = tuple(array.shape)
    if array.ndim == 2 and array.shape[0] == 2:
        raise ValueError(f"expected a (k, 2) array of {what}s, got shape {shape}: one row per "
                         "pair; for pairs in columns (an edge index), pass its transpose, .T")
    if array.ndim == 2 and array.shape[1] > 2:
        raise ValueError(f"expected a (k, 2) array of {what}s, got shape {shape}: pass the two "
                         "columns to use, for example [:, :2]")
    raise ValueError(f"expected a (k, 2) array of {what}s, got shape {shape}")
