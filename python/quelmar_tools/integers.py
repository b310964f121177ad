"""Node names and cluster ids as the module's files hold them: unsigned
64-bit integers. One converter (``to_uint64``) serves every way in, under
one rule:

* integers pass when in [0, 2**64), Python's exact integers value by value
  (so lists mixing names above 2**63 with others are read exactly);
* a float passes only when it is a whole number in [0, 2**53], where a
  float still tells neighbouring integers apart; any other float (a
  fraction, NaN, infinity, a negative one, one above 2**53) is refused;
* booleans, strings, timestamps and the like are refused.

A refusal is a TypeError (not an integer) or ValueError (out of range)
naming the first offending value and, given a `locate`, where it is."""

from __future__ import annotations

import operator
from collections.abc import Iterable
from typing import Any, Callable, Optional

import numpy as np
import numpy.typing as npt

__all__ = ["U64", "Locate", "as_integer", "as_pairs", "is_collection", "shown", "to_uint64"]

#: An array of node names, cluster ids or counts.
U64 = npt.NDArray[np.uint64]
#: Where the flat index i of a converted array sits, for messages.
Locate = Callable[[int], str]

_LIMIT = 1 << 64
# A float holds every integer up to here; above it, neighbours merge.
_FLOAT_EXACT = float(2**53)


def as_integer(value: Any, what: str) -> int:
    """One name or id given as an integer (no float, no bool) as a Python
    int in [0, 2**64), or TypeError/ValueError naming the value."""
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{what} {value!r} is not an integer")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} {value!r} is not an integer") from None
    if not 0 <= number < _LIMIT:
        raise ValueError(f"{what} {number} is outside [0, 2**64)")
    return number


def to_uint64(values: Any, what: str, locate: Optional[Locate] = None, *, flat: bool = False,
              collections_hint: bool = False) -> U64:
    """An array-like of names or ids (`what`, for messages) as a uint64 array
    of the same shape (with `flat`, one value per item: a 1-D array), under
    the module's rule; or TypeError/ValueError naming the first offending
    value and, with `locate`, where it is. Unsigned and non-negative signed
    arrays cost one pass at most. `collections_hint` adds a hint to the
    refusal of a collection among single labels."""
    where = _prefix(locate)
    try:
        array = values if isinstance(values, np.ndarray) else np.asarray(values)
    except ValueError:  # nested lists of different lengths
        array = _objects(values, flat)
    if flat and array.ndim != 1:
        # numpy would read equal-length collections as one more dimension.
        array = _objects(values, flat)
    kind = array.dtype.kind
    if isinstance(values, np.ndarray) and kind not in "uifO":
        # Timestamps and the like convert to integers, but they are no names.
        raise TypeError(f"{what}s must be integers, got an array of {array.dtype}")
    if kind == "u":
        return array.astype(np.uint64, copy=False)
    if kind == "i":
        if array.size and array.min() < 0:
            bad = int(np.argmax(array.ravel() < 0))
            raise ValueError(f"{where(bad)}{what} {shown(array.flat[bad])} is outside "
                             "[0, 2**64)")
        return array.astype(np.uint64)
    if array.size == 0:
        return np.empty(array.shape, dtype=np.uint64)
    if kind == "f" and isinstance(values, np.ndarray):
        return _whole_floats(array, what, where)
    # Anything else, value by value with Python's exact integers (numpy turns
    # a list mixing names above 2**63 with others into floats).
    if kind != "O":
        array = _objects(values, flat)
    entries = array.ravel()
    out = np.empty(entries.shape, dtype=np.uint64)
    for i, value in enumerate(entries):
        try:
            out[i] = _integer(value, what)
        except (TypeError, ValueError) as error:
            hint = ("; single labels and collections mixed?"
                    if collections_hint and is_collection(value) else "")
            raise type(error)(f"{where(i)}{error}{hint}") from None
    return out.reshape(array.shape)


def _objects(values: Any, flat: bool) -> np.ndarray:
    """The values as they are, in an object array of their nesting where it
    is regular, else (and with `flat`) one entry per item."""
    if not flat:
        try:
            return np.asarray(values, dtype=object)
        except ValueError:
            pass
    items = list(values)
    array = np.empty(len(items), dtype=object)
    for i, item in enumerate(items):
        array[i] = item
    return array


def _whole_floats(array: np.ndarray, what: str, where: Locate) -> U64:
    """A float array as uint64 under the float rule (`where` starts messages)."""
    whole = np.isfinite(array) & (np.floor(array) == array)
    fits = (array >= 0) & (array <= _FLOAT_EXACT)
    good = whole & fits
    if not good.all():
        bad = int(np.argmax(~good.ravel()))
        value = float(array.flat[bad])
        if not whole.flat[bad]:
            raise TypeError(f"{where(bad)}{what} {value!r} is not an integer")
        if value < 0:
            raise ValueError(f"{where(bad)}{what} {value!r} is outside [0, 2**64)")
        raise ValueError(f"{where(bad)}{what} {value!r} is above 2**53, where floats skip "
                         "integers; pass integers")
    return array.astype(np.uint64)


def _integer(value: Any, what: str) -> int:
    if isinstance(value, (float, np.floating)):
        number = float(value)
        if not (np.isfinite(number) and number.is_integer()):
            raise TypeError(f"{what} {number!r} is not an integer")
        if not 0 <= number <= _FLOAT_EXACT:
            raise ValueError(f"{what} {number!r} is outside [0, 2**53] (floats skip integers "
                             "beyond)")
        return int(number)
    try:
        operator.index(value)
    except TypeError:
        raise TypeError(f"{what} {shown(value)} is not an integer") from None
    return as_integer(value, what)


def shown(value: Any) -> str:
    """A value as messages show it (numpy scalars as the Python value)."""
    return repr(value.item() if isinstance(value, np.generic) else value)


def as_pairs(values: Any, what: str) -> U64:
    """A (k, 2) array-like as a C-contiguous uint64 array. Other shapes are
    refused rather than guessed at: a (2, k) array (the edge-index layout of
    graph-learning libraries) and arrays of three or more columns would
    otherwise be read as something else. A (2, 2) array is two rows."""
    array = to_uint64(values, what)
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


def is_collection(value: Any) -> bool:
    """Whether `value` holds several items (a string is one label)."""
    if isinstance(value, np.ndarray):
        return value.ndim > 0
    return isinstance(value, Iterable) and not isinstance(value, (str, bytes))


def _prefix(locate: Optional[Locate]) -> Locate:
    """What a message starts with for the flat index i: where it is, or
    nothing without `locate`."""
    if locate is None:
        return lambda i: ""
    return lambda i: f"{locate(i)}: "
