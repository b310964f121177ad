"""The members of a clustering by name: as a table, and written out in the
clustering file format."""

from __future__ import annotations

import os
from typing import Optional, Union

import numpy as np
import pandas as pd

import quelmar
from quelmar_tools import _native
from quelmar_tools._files import atomic_text
from quelmar_tools.integers import to_uint64
from quelmar_tools.table import Ids

PathLike = Union[str, "os.PathLike[str]"]


def memberships(clustering: quelmar.Clustering, ids: Optional[Ids] = None) -> pd.DataFrame:
    """List the members of a clustering by name, one row per membership.

    Parameters
    ----------
    clustering : quelmar.Clustering
        Any clustering (loaded, built from memory, or refined).
    ids : iterable of int, optional
        Only these clusters, as ``select_in`` takes them; all by default.

    Returns
    -------
    pandas.DataFrame
        ``node`` and ``cluster``, uint64 names and ids as in files, sorted
        by cluster id, then by node name.

    Raises
    ------
    TypeError
        When `clustering` is not a quelmar.Clustering, or an id is not an
        integer.
    ValueError
        For an id outside [0, 2**64).

    Examples
    --------
    >>> import quelmar_tools
    >>> graph = quelmar_tools.graph_from([[5, 7], [7, 9]])
    >>> clusters = quelmar_tools.clustering_from(graph, {3: [9, 7, 5]})
    >>> quelmar_tools.memberships(clusters).values.tolist()
    [[5, 3], [7, 3], [9, 3]]
    """
    if not isinstance(clustering, quelmar.Clustering):
        raise TypeError(f"expected a quelmar.Clustering, got {type(clustering).__name__}")
    wanted = None
    if ids is not None:
        values = ids if isinstance(ids, np.ndarray) else list(ids)
        wanted = np.ascontiguousarray(np.unique(to_uint64(values, "cluster id").ravel()))
    keys, starts, names = (np.frombuffer(column, dtype=np.uint64)
                           for column in _native.cluster_members(clustering, wanted))
    sizes = (starts[1:] - starts[:-1]).astype(np.int64)
    clusters = np.repeat(keys, sizes)
    return pd.DataFrame({"node": names, "cluster": clusters}, copy=False)


def write_clustering(clustering: quelmar.Clustering, path: PathLike,
                     ids: Optional[Ids] = None) -> None:
    """Write a clustering out as a clustering file, safely.

    One "node cluster" line per membership, in the order of memberships().

    The file is written to a temporary file in the same folder and renamed
    over `path` only when complete, so a failed or interrupted write leaves
    no partial file and an existing one unchanged. Loading it with
    ``quelmar.Clustering(graph, path)`` gives the same clusters.

    Parameters
    ----------
    clustering : quelmar.Clustering
        The clusters to write.
    path : str or os.PathLike
        The file to write.
    ids : iterable of int, optional
        Only these clusters; all by default.

    Raises
    ------
    OSError
        When the file cannot be written (FileNotFoundError for a missing
        folder).
    TypeError, ValueError
        As memberships() raises them.

    Examples
    --------
    >>> import os, tempfile, quelmar_tools
    >>> graph = quelmar_tools.graph_from([[5, 7], [7, 9]])
    >>> clusters = quelmar_tools.clustering_from(graph, {3: [9, 7, 5]})
    >>> target = os.path.join(tempfile.mkdtemp(), "clusters.txt")
    >>> quelmar_tools.write_clustering(clusters, target)
    >>> open(target).read()
    '5 3\\n7 3\\n9 3\\n'
    """
    table = memberships(clustering, ids)
    with atomic_text(path) as out:
        table.to_csv(out, sep=" ", header=False, index=False, lineterminator="\n")


__all__ = ["memberships", "write_clustering"]
