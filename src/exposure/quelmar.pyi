"""Statistics of clusterings of large undirected graphs, natively implemented.

Load a graph (``Graph``), load and pack a clustering of it (``Clustering``),
select clusters (``Clustering.select_in``, ``Clustering.select``) and compute
coverage and 21-point percentile summaries of the selection
(``ClusteringSubset.compute_statistics``).

Failures inside the native code (an unreadable or malformed file, a predicate
that raised) raise ``PanicException``, which derives from ``BaseException``,
not ``Exception``, and is not an attribute of this module.
"""

from typing import Callable, SupportsFloat, SupportsIndex, TypeVar, final, type_check_only

__all__ = ["Graph", "ClusterSkeleton", "Clustering", "SummarizedDistribution", "set_nthreads"]

_Id = TypeVar("_Id", bound=SupportsIndex)

def set_nthreads(nthreads: SupportsIndex) -> None:
    """Creates the process-wide worker pool with ``nthreads`` workers (0: one
    per available processor) and waits until all have started.

    Allowed once per process, before the first ``Clustering`` is built;
    otherwise it raises ``PanicException``. Without it the pool is sized by
    RAYON_NUM_THREADS, else RAYON_RS_NUM_CPUS, else the processor count.
    """

@final
class Graph:
    """An undirected graph loaded from a file, read-only and shared by every
    clustering built on it."""

    def __init__(self, filepath: str) -> None:
        """Loads ``filepath``: a snapshot when its name ends in ``.lz4``,
        otherwise an edge list (two node names per line).

        Holds the interpreter lock while loading; Ctrl-C interrupts it with
        ``KeyboardInterrupt``. Raises ``PanicException`` when the file cannot
        be read or is malformed.
        """

@final
class Clustering:
    """The clusters of a clustering file, each packed as a member bitmap with
    its counts, against one ``Graph``."""

    def __init__(self, graph: Graph, filepath: str, *, cpm: SupportsFloat = ...) -> None:
        """Loads ``filepath`` (a node name and a cluster id per line) against
        ``graph`` and packs every cluster of two or more members, on the worker
        pool and without the interpreter lock.

        ``cpm`` is the resolution of the constant Potts model score; without
        it the statistics have no "cpm" summary. The module accepts and
        ignores any other keyword; this signature leaves them out so that a
        misspelt ``cpm`` is caught.
        """

    def select_in(self, ids: list[_Id]) -> ClusteringSubset:
        """The clusters with these ids (duplicates collapse; ids that name no
        cluster stay in ``keys`` but count nowhere). Must be a list."""

    def select(self, f: Callable[[ClusterSkeleton], bool]) -> ClusteringSubset:
        """The clusters for which ``f`` returns ``True``, asked in ascending
        id order. ``f`` must return a ``bool``; anything else, or an exception
        from ``f``, raises ``PanicException``."""

@final
class ClusterSkeleton:
    """The counts of one packed cluster, as passed to a ``select``
    predicate. Made only by the module."""

    @property
    def n(self) -> int:
        """Members."""

    @property
    def m(self) -> int:
        """Edges with both ends inside the cluster."""

    @property
    def c(self) -> int:
        """Cut size: edges with one end inside."""

    @property
    def mcd(self) -> int:
        """Smallest degree of a member in the whole graph."""

    @property
    def vol(self) -> int:
        """Volume: the sum of the members' degrees in the whole graph."""

@final
class SummarizedDistribution:
    """A distribution summarised by 21 percentiles, at 0 %, 5 %, ..., 100 %.
    Made only by the module."""

    @property
    def percentiles(self) -> list[float]:
        """The 21 entries; entry i is the percentile at i * 5 %."""

    @property
    def minimum(self) -> float:
        """Entry 0."""

    @property
    def median(self) -> float:
        """Entry 10."""

    @property
    def maximum(self) -> float:
        """Entry 20."""

# The two classes below are not attributes of the module at run time: their
# instances come only from methods. Annotations may name them (they are not
# evaluated at run time under ``from __future__ import annotations``, in
# quotes, or inside ``if TYPE_CHECKING:``), but they cannot be imported.

@final
@type_check_only
class ClusteringSubset:
    """A selection of clusters of one ``Clustering``, made by ``select_in``
    or ``select``. Keeps the clustering and the graph alive."""

    @property
    def keys(self) -> list[int]:
        """The selected ids, ascending (a property: no call)."""

    def compute_statistics(self) -> ClusteringStats:
        """Coverage of the graph by the selected clusters and summaries of six
        per-cluster measures, computed on the worker pool without the
        interpreter lock."""

    def compute_size_diff(self, rhs: Clustering) -> tuple[int, SummarizedDistribution]:
        """Compares each selected cluster with the cluster of the same id in
        ``rhs``: the number of clusters that grew, and the summary of the
        relative size changes. Raises ``PanicException`` ("no entry found for
        key") when a selected cluster's id is missing from ``rhs``."""

@final
@type_check_only
class ClusteringStats:
    """The statistics of one selection; a snapshot that refers to nothing."""

    @property
    def num_clusters(self) -> int:
        """Selected ids that name a cluster."""

    @property
    def covered_nodes(self) -> int:
        """Distinct nodes in some selected cluster."""

    @property
    def covered_edges(self) -> int:
        """Distinct edges with both ends in one selected cluster."""

    @property
    def total_nodes(self) -> int:
        """Nodes of the graph."""

    @property
    def total_edges(self) -> int:
        """Edges of the graph."""

    @property
    def distributions(self) -> dict[str, SummarizedDistribution]:
        """A new dict on every read, keyed "mcd", "size", "modularity",
        "deviationtreeness", "density", and "cpm" when the clustering has a
        resolution. Key order is unspecified."""
