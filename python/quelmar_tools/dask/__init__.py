"""The statistics of ``compute_statistics()`` and ``compute_size_diff()`` for
graphs larger than one machine, computed with Dask dataframes on whatever
cluster the caller's ``Client`` points to (``pip install quelmar[dask]``).

Inputs are the module's text formats (a path, a glob or a list: one graph
may be split over many files) or Parquet files whose first two columns hold
unsigned 64-bit integers. Results equal the module's bit for bit on every
input that the module accepts; counts are not cut to 32 bits.

Differences from loading the same files with the module:

* A malformed line fails with the module's message prefixed by the file
  name and line number, "graph.txt:17: missing to" (a ``LineError``); of
  several, the first in the order of the files as given.
* The rule "a second line of one cluster naming a node the graph lacks
  fails" is checked per cluster by counting such lines over all files. The
  ``LineError`` names the second such line of the cluster whose second line
  comes first in file order (for Parquet, the file and the row within it,
  counted from 0), with the module's message.
* A worker's memory limit too small for the plan fails at once with
  ``MemoryError``; a job whose workers all stay paused, or keep dying, stops
  with an error after ``Options.worker_timeout`` seconds or a few losses.
* ``size_diff`` fails with ``LookupError("no entry found for key")`` where
  the module raises ``PanicException`` with that text.

Each function takes ``options=Options(...)`` to fix how the work is cut;
by default the partitions of every shuffle, the bytes of text per parsing
task and the shuffle method follow the memory limits of the client's
workers and the size of the input (the rule is in ``_plan``'s docstring
and on the guide's page "Beyond one machine").
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Literal, Sequence, overload

from quelmar_tools.dask import _calls, _parsing, _plan, _results
from quelmar_tools.dask._parsing import LineError, Source
from quelmar_tools.dask._plan import Options
from quelmar_tools.dask._results import Statistics

if TYPE_CHECKING:
    import dask.dataframe as dd
    from distributed import Client

    from quelmar_tools.dask import _pipeline

# _pipeline, _agreement and _frames load pandas and Dask's dataframes; they
# are loaded where used, so that a worker importing this package for a
# task's function stays without them.

__all__ = ["LineError", "Options", "Statistics", "cluster_table", "compare", "match_table",
           "size_diff", "statistics"]


def _client(client: Client | None) -> Any:
    return client if client is not None else _calls.default_client()


def _joined(edges: Source, clustering: Source, ids: Sequence[int] | None, options: Options,
            client: Any) -> tuple[_pipeline.Graph, _pipeline.Clustering, list[str]]:
    from quelmar_tools.dask import _pipeline

    edge_paths = _parsing.expand(edges)
    member_paths = _parsing.expand(clustering)
    plan = _plan.plan(options, edge_paths, [member_paths], client)
    selected = _calls.constant(_pipeline.selection(ids))
    edge_input = _pipeline.read(edge_paths, "edges", plan, routed=True)
    members = _pipeline.read(member_paths, "clustering", plan, routed=True)
    inputs_ok = _pipeline.checked(edge_input, members)
    graph = _pipeline.graph(edge_input, members, selected, plan, inputs_ok)
    return graph, _pipeline.clustering(graph, None, selected, inputs_ok), member_paths


def _finish(client: Any, value: Any, compute: bool, options: Options) -> Any:
    if compute:
        return _calls.compute(client, value, options.worker_timeout)
    return _calls.submit(client, value) if client is not None else value


@overload
def statistics(edges: Source, clustering: Source, *, cpm: float | None = None,
               ids: Sequence[int] | None = None, client: Client | None = None,
               options: Options = Options(), compute: Literal[True] = True) -> Statistics: ...


@overload
def statistics(edges: Source, clustering: Source, *, cpm: float | None = None,
               ids: Sequence[int] | None = None, client: Client | None = None,
               options: Options = Options(), compute: bool) -> Any: ...


def statistics(edges: Source, clustering: Source, *, cpm: float | None = None,
               ids: Sequence[int] | None = None, client: Client | None = None,
               options: Options = Options(), compute: bool = True) -> Any:
    """``Clustering(Graph(edges), clustering, cpm=cpm)`` selected by ``ids``
    (all clusters when None) and ``compute_statistics()`` on it. With
    ``compute=False``: a Future of the record, already running on the
    client's cluster (a Delayed when there is no client), for
    ``distributed.progress`` or ``client.gather``."""
    from quelmar_tools.dask import _pipeline

    client = _client(client)
    graph, joined, member_paths = _joined(edges, clustering, ids, options, client)
    covered = _pipeline.coverage(graph, joined)
    record = graph.tasks.task("statistics", 0, _results.statistics, graph.totals, joined.counts,
                              joined.unresolved, joined.links, covered, cpm, member_paths)
    return _finish(client, graph.tasks.delayed(record), compute, options)


def cluster_table(edges: Source, clustering: Source, *, cpm: float | None = None,
                  ids: Sequence[int] | None = None, client: Client | None = None,
                  options: Options = Options()) -> dd.DataFrame:
    """The companion's per-cluster table as a Dask dataframe: index ``id``
    (uint64; ascending within each partition, partitions keyed by a hash of
    the id), the columns of ``quelmar_tools.cluster_table``. Nothing is
    computed until the caller computes or writes it; input errors are
    raised then, the same first one from every partition."""
    graph, joined, member_paths = _joined(edges, clustering, ids, options, _client(client))
    tasks = graph.tasks
    total_edges = tasks.task("total_edges", 0, _results.total_edges, graph.totals)
    resolved = tasks.task("raise_unresolved", 0, _results.raise_unresolved, joined.unresolved,
                          member_paths)
    meta = _results.table_meta(cpm is not None)
    parts = [tasks.task("table_part", i, _results.table_part, c, total_edges, cpm, resolved)
             for i, c in enumerate(joined.counts)]
    return _calls.from_delayed([tasks.delayed(p) for p in parts], meta)


@overload
def size_diff(edges: Source, clustering: Source, other: Source, *,
              ids: Sequence[int] | None = None, client: Client | None = None,
              options: Options = Options(),
              compute: Literal[True] = True) -> tuple[int, list[float]]: ...


@overload
def size_diff(edges: Source, clustering: Source, other: Source, *,
              ids: Sequence[int] | None = None, client: Client | None = None,
              options: Options = Options(), compute: bool) -> Any: ...


def size_diff(edges: Source, clustering: Source, other: Source, *,
              ids: Sequence[int] | None = None, client: Client | None = None,
              options: Options = Options(), compute: bool = True) -> Any:
    """``compute_size_diff`` of the clusters selected by ``ids`` (all when
    None) against the clustering ``other`` of the same graph: the number of
    grown clusters and the 21 percentiles of the relative size changes.
    ``compute=False`` returns a Future (or Delayed) as ``statistics`` does."""
    from quelmar_tools.dask import _pipeline

    client = _client(client)
    edge_paths = _parsing.expand(edges)
    member_paths = _parsing.expand(clustering)
    other_paths = _parsing.expand(other)
    plan = _plan.plan(options, edge_paths, [member_paths, other_paths], client)
    selected = _calls.constant(_pipeline.selection(ids))
    edge_input = _pipeline.read(edge_paths, "edges", plan, routed=True)
    mine = _pipeline.read(member_paths, "clustering", plan, routed=True)
    theirs = _pipeline.read(other_paths, "clustering", plan, routed=True)
    inputs_ok = _pipeline.checked(edge_input, mine, theirs)
    graph = _pipeline.graph(edge_input, None, None, plan, inputs_ok)
    my_sides = _pipeline.clustering(graph, mine, selected, inputs_ok, "-mine")
    their_sides = _pipeline.clustering(graph, theirs, None, inputs_ok, "-theirs")
    result = graph.tasks.task("size_diff", 0, _results.size_diff, my_sides.counts,
                              my_sides.unresolved, their_sides.counts, their_sides.unresolved,
                              member_paths, other_paths)
    return _finish(client, graph.tasks.delayed(result), compute, options)


def compare(clustering_a: Source, clustering_b: Source, *, edges: Source | None = None,
            ids: Sequence[int] | None = None, other_ids: Sequence[int] | None = None,
            measures: str | Sequence[str] | None = None, uncovered: str = "singletons",
            client: Client | None = None, options: Options = Options(),
            compute: bool = True) -> Any:
    """``quelmar_tools.compare`` of two clusterings: the contingency is
    counted on the client's cluster (a join of the memberships on node),
    the measures from it in this process, equal to the in-process ones to
    1e-12.

    With `edges`, the clusterings are read as ``Clustering(Graph(edges),
    ...)`` reads them: memberships of nodes the graph lacks are skipped
    (without the loader's check that a cluster names at most one of them;
    ``statistics`` makes it), and "singletons" compares every node of the
    graph. Without `edges`, the graph is taken to be the nodes that either
    side names: "singletons" compares each of them, a node that one side
    leaves uncovered being a cluster of its own there, and "drop" the nodes
    both sides cover, as with `edges`.

    Every measure but ``omega`` (it needs the members, not only the
    intersection sizes: ValueError) is offered; the defaults and the
    `uncovered` policy are ``compare``'s. With ``compute=False``, a Future
    of the dict, the measures computed on a worker (a Delayed when there
    is no client), as ``statistics`` gives it."""
    from quelmar_tools.dask import _agreement

    from quelmar_tools import agreement

    if measures is None or measures == "all":
        names = list(agreement.DEFAULT_MEASURES if measures is None else
                     [m.name for m in agreement.MEASURE_TABLE
                      if not m.variant_of and not m.needs_members])
        apt_only = True
    else:
        names = [measures] if isinstance(measures, str) else list(measures)
        apt_only = False
    client = _client(client)
    counted = _agreement.planned(clustering_a, clustering_b, edges, ids, other_ids, uncovered,
                                 options, client)
    if not compute:
        return _finish(client, _calls.delayed(_agreement.measures)(counted, names, apt_only),
                       False, options)
    cells = _calls.compute(client, counted, options.worker_timeout)
    return _agreement.measures(cells, names, apt_only)


def match_table(clustering_a: Source, clustering_b: Source, *, edges: Source | None = None,
                ids: Sequence[int] | None = None, other_ids: Sequence[int] | None = None,
                uncovered: str = "singletons", reverse: bool = False,
                client: Client | None = None, options: Options = Options()) -> dd.DataFrame:
    """``quelmar_tools.match_table`` of two clusterings as a Dask dataframe
    of one partition (index ``id``, ascending), equal to it bit for bit;
    `edges` and `uncovered` as for ``compare``. Nothing is computed until
    the caller computes or writes it."""
    from quelmar_tools.dask import _agreement

    counted = _agreement.planned(clustering_a, clustering_b, edges, ids, other_ids, uncovered,
                                 options, _client(client))
    part = _calls.delayed(_agreement.table)(counted, reverse)
    return _calls.from_delayed([part], _agreement.TABLE_META)
