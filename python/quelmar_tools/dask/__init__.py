"""The statistics of ``compute_statistics()`` and ``compute_size_diff()`` for
graphs larger than one machine, computed with Dask dataframes on whatever
cluster the caller's ``Client`` points to (``pip install quelmar[dask]``).

Inputs are the module's text formats (a path, a glob or a list: one graph
may be split over many files) or Parquet files whose first two columns hold
unsigned 64-bit integers. Results equal the module's bit for bit on every
input that the module accepts; counts are not cut to 32 bits.

Differences from loading the same files with the module:

* A malformed line fails with the module's message prefixed by the file
  name and line number, "graph.txt:17: missing to" (a ``LineError``).
* The rule "a second line of one cluster naming a node the graph lacks
  fails" is checked per cluster by counting such lines over all files. The
  ``LineError`` names the second such line of the cluster, in the order of
  the files as given (for Parquet, the partition and row), with the module's
  message.
* ``size_diff`` fails with ``LookupError("no entry found for key")`` where
  the module raises ``PanicException`` with that text.

Each function takes ``options=Options(...)`` to fix how the work is cut;
by default the partitions of every shuffle, the bytes of text per parsing
task and the shuffle method follow the memory limits of the client's
workers and the size of the input (the rule is in ``_plan``'s docstring
and in the README section "Beyond one machine").
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Sequence

from quelmar_tools.dask import _calls, _inputs, _pipeline, _plan, _results
from quelmar_tools.dask._inputs import LineError, Source
from quelmar_tools.dask._plan import Options

if TYPE_CHECKING:
    import dask.dataframe as dd
    from distributed import Client

__all__ = ["LineError", "Options", "Statistics", "cluster_table", "size_diff", "statistics"]


@dataclass(frozen=True)
class Statistics:
    """The five counts of ``ClusteringStats`` under the same names, and each
    statistic's 21 percentiles under the module's keys."""

    num_clusters: int
    covered_nodes: int
    covered_edges: int
    total_nodes: int
    total_edges: int
    distributions: dict[str, list[float]] = field(default_factory=dict)


def _prepare(edges: Source, clustering: Source, ids: Sequence[int] | None,
             options: Options, client: Client | None
             ) -> tuple[_pipeline.Graph, list[str], list[str], Any]:
    edge_paths = _inputs.expand(edges)
    member_paths = _inputs.expand(clustering)
    plan = _plan.plan(options, edge_paths, [member_paths], client)
    selected = _calls.constant(_pipeline.selection(ids))
    members = _pipeline.members_frame(member_paths, plan)
    graph = _pipeline.graph(edge_paths, members, selected, plan)
    return graph, edge_paths, member_paths, selected


def statistics(edges: Source, clustering: Source, *, cpm: float | None = None,
               ids: Sequence[int] | None = None, client: Client | None = None,
               options: Options = Options()) -> Statistics:
    """``Clustering(Graph(edges), clustering, cpm=cpm)`` selected by ``ids``
    (all clusters when None) and ``compute_statistics()`` on it."""
    graph, edge_paths, member_paths, selected = _prepare(edges, clustering, ids, options, client)
    joined = _pipeline.clustering(graph, None, selected)
    covered = _pipeline.coverage(graph, joined)
    with _inputs.located(edge_paths, member_paths):
        totals, sides, node_sides, covers = _calls.compute(
            client, [graph.totals, joined.cluster_sides,
                     [(s[2],) for s in joined.node_sides], covered])
    table = _results.counts_table([s[0] for s in sides])
    _results.raise_unresolved([s[2] for s in sides], member_paths)
    total_nodes = sum(t[0] for t in totals)
    total_edges = sum(t[1] for t in totals) // 2
    links = sum(s[0] for s in node_sides)
    covered_nodes = sum(c[0] for c in covers)
    covered_loops = sum(c[1] for c in covers)
    return Statistics(
        num_clusters=len(table),
        covered_nodes=covered_nodes,
        covered_edges=(2 * links + covered_loops) // 2,
        total_nodes=total_nodes,
        total_edges=total_edges,
        distributions=_results.summaries(table, total_edges, cpm),
    )


def cluster_table(edges: Source, clustering: Source, *, cpm: float | None = None,
                  ids: Sequence[int] | None = None, client: Client | None = None,
                  options: Options = Options()) -> dd.DataFrame:
    """The companion's per-cluster table as a Dask dataframe: index ``id``
    (uint64; ascending within each partition, partitions keyed by a hash of
    the id), the columns of ``quelmar_tools.cluster_table``. Nothing is
    computed until the caller computes or writes it; the one-line-of-a-
    cluster rule is checked then, in the partition holding the cluster."""
    graph, _, member_paths, selected = _prepare(edges, clustering, ids, options, client)
    joined = _pipeline.clustering(graph, None, selected)
    total_edges = _calls.delayed(_results.total_edges)(graph.totals)
    meta = _results.table_meta(cpm is not None)
    parts = [_calls.delayed(_results.table_part)(s[0], s[2], total_edges, cpm, member_paths)
             for s in joined.cluster_sides]
    return _calls.from_delayed(parts, meta)


def size_diff(edges: Source, clustering: Source, other: Source, *,
              ids: Sequence[int] | None = None, client: Client | None = None,
              options: Options = Options()) -> tuple[int, list[float]]:
    """``compute_size_diff`` of the clusters selected by ``ids`` (all when
    None) against the clustering ``other`` of the same graph: the number of
    grown clusters and the 21 percentiles of the relative size changes."""
    edge_paths = _inputs.expand(edges)
    member_paths = _inputs.expand(clustering)
    other_paths = _inputs.expand(other)
    plan = _plan.plan(options, edge_paths, [member_paths, other_paths], client)
    selected = _calls.constant(_pipeline.selection(ids))
    graph = _pipeline.graph(edge_paths, None, None, plan)
    mine = _pipeline.clustering(graph, _pipeline.members_frame(member_paths, plan), selected)
    theirs = _pipeline.clustering(graph, _pipeline.members_frame(other_paths, plan), None)
    with _inputs.located(edge_paths, member_paths, other_paths):
        my_sides, their_sides = _calls.compute(client, [mine.cluster_sides,
                                                        theirs.cluster_sides])
    _results.raise_unresolved([s[2] for s in my_sides], member_paths)
    _results.raise_unresolved([s[2] for s in their_sides], other_paths)
    return _results.size_changes(_results.counts_table([s[0] for s in my_sides]),
                                 _results.counts_table([s[0] for s in their_sides]))
