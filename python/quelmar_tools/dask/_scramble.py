"""Node names and cluster ids travel through the shuffles in a scrambled form.

Dask turns numeric shuffle keys into float64 before hashing them, so names
above 2^53 that differ only in their low bits would all land in one
partition (ids 2^63, 2^63 + 1, ... are a real case). Every name and id is
therefore replaced by the image of a bijection of the 64-bit integers that
spreads its bits over the whole word: equal names stay equal (joins,
duplicates and partition alignment are unaffected), distinct names spread
evenly over the partitions, and the original is recovered exactly where it
is shown (cluster ids in tables and messages).
"""

from __future__ import annotations

import numpy as np

from quelmar_tools.integers import U64


_M1 = 0xBF58476D1CE4E5B9
_M2 = 0x94D049BB133111EB
_M1_INVERSE = pow(_M1, -1, 1 << 64)
_M2_INVERSE = pow(_M2, -1, 1 << 64)


def scramble(values: U64) -> U64:
    """The bijection (a 64-bit finalising mix: xor-shifts and odd multipliers);
    the native parse of _parsing.parse_routed applies the same one
    (partitioned::scramble in src/partitioned/routed_lines.h)."""
    z = values.astype(np.uint64, copy=True)
    with np.errstate(over="ignore"):
        z ^= z >> np.uint64(30)
        z *= np.uint64(_M1)
        z ^= z >> np.uint64(27)
        z *= np.uint64(_M2)
        z ^= z >> np.uint64(31)
    return z


def _undo_xor_shift(z: U64, shift: int) -> U64:
    result = z.copy()
    step = shift
    while step < 64:
        result ^= z >> np.uint64(step)
        step += shift
    return result


def unscramble(values: U64) -> U64:
    """The inverse of scramble."""
    z = values.astype(np.uint64, copy=True)
    with np.errstate(over="ignore"):
        z = _undo_xor_shift(z, 31)
        z *= np.uint64(_M2_INVERSE)
        z = _undo_xor_shift(z, 27)
        z *= np.uint64(_M1_INVERSE)
        z = _undo_xor_shift(z, 30)
    return z
