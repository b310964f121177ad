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
    """Compute the statistics of a clustering of a graph, on a Dask cluster.

    The same as ``Clustering(Graph(edges), clustering, cpm=cpm)``, selected
    by ``ids``, and ``compute_statistics()`` on it, bit for bit.

    Parameters
    ----------
    edges : str, os.PathLike or sequence of them
        The graph's edge list: a path, a glob or a list of them (one graph
        may be split over many files), in the module's text format, or
        Parquet files whose first two columns hold unsigned 64-bit
        integers.
    clustering : str, os.PathLike or sequence of them
        The clustering: files as for `edges`, one membership
        ("node cluster") per line or row.
    cpm : float, optional
        The resolution of the "cpm" statistic; without it, no "cpm"
        distribution.
    ids : sequence of int, optional
        Only these clusters, as ``select_in`` takes them; all when None.
    client : distributed.Client, optional
        The cluster to run on; by default the client Dask would use, and
        without one Dask's local scheduler in this process.
    options : Options, default Options()
        How the work is cut; by default chosen from the memory limits of
        the client's workers and the size of the input.
    compute : bool, default True
        Whether to wait for the result; False returns at once with a
        Future of it, already running on the client's cluster (a Delayed
        when there is no client), for ``distributed.progress`` or
        ``client.gather``; the job's own errors (all but those of naming
        the files and of the plan) are raised when it is gathered.

    Returns
    -------
    Statistics or distributed.Future or dask.delayed.Delayed
        The record; with ``compute=False`` a Future of it (a Delayed when
        there is no client).

    Raises
    ------
    LineError
        A malformed line ("file:line: message", the first in the order of
        the files as given), or the second line of one cluster naming a
        node the graph lacks.
    FileNotFoundError
        For a path or a glob that names no file.
    OSError
        When a file cannot be read, or shrinks during the job.
    ValueError
        When no input file is given, or for a shuffle method that Dask
        does not know.
    TypeError
        When `cpm` is not a number.
    MemoryError
        When a worker's memory limit is too small for the plan (at once,
        before anything is submitted), or every worker stays paused for
        ``Options.worker_timeout`` seconds.
    TimeoutError
        When no worker joins the client's cluster within
        ``Options.worker_timeout`` seconds.
    RuntimeError
        When the job loses workers more than a few times per worker, or
        is left without any for ``Options.worker_timeout`` seconds.

    Examples
    --------
    >>> import os, tempfile, numpy as np, quelmar_tools.dask
    >>> folder = tempfile.mkdtemp()
    >>> edges = os.path.join(folder, "edges.txt")
    >>> clusters = os.path.join(folder, "clusters.txt")
    >>> np.savetxt(edges, [[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]], fmt="%d")
    >>> np.savetxt(clusters, [[1, 0], [2, 0], [3, 0], [4, 7], [5, 7], [6, 7]], fmt="%d")
    >>> stats = quelmar_tools.dask.statistics(edges, clusters)
    >>> stats.num_clusters, stats.covered_edges, stats.total_edges
    (2, 5, 6)
    >>> stats.distributions["density"][20]
    1.0
    """
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
    """Build the per-cluster table of a clustering of a graph, as a Dask dataframe.

    Nothing is computed until the caller computes or writes the frame;
    input errors are raised then, the same first one from every partition.

    Parameters
    ----------
    edges : str, os.PathLike or sequence of them
        The graph's edge list: a path, a glob or a list of them (one graph
        may be split over many files), in the module's text format, or
        Parquet files whose first two columns hold unsigned 64-bit
        integers.
    clustering : str, os.PathLike or sequence of them
        The clustering: files as for `edges`, one membership
        ("node cluster") per line or row.
    cpm : float, optional
        The resolution for the ``cpm`` column; without it, no such column.
    ids : sequence of int, optional
        Only these clusters, as ``select_in`` takes them; all when None.
    client : distributed.Client, optional
        The cluster to run on; by default the client Dask would use, and
        without one Dask's local scheduler in this process.
    options : Options, default Options()
        How the work is cut; by default chosen from the memory limits of
        the client's workers and the size of the input.

    Returns
    -------
    dask.dataframe.DataFrame
        Index ``id`` (uint64; ascending within each partition, partitions
        keyed by a hash of the id) and the columns of
        ``quelmar_tools.cluster_table``.

    Raises
    ------
    LineError
        A malformed line ("file:line: message", the first in the order of
        the files as given), or the second line of one cluster naming a
        node the graph lacks.
    FileNotFoundError
        For a path or a glob that names no file.
    OSError
        When a file cannot be read, or shrinks during the job.
    ValueError
        When no input file is given, or for a shuffle method that Dask
        does not know.
    TypeError
        When `cpm` is not a number (when the frame is computed).
    MemoryError
        When a worker's memory limit is too small for the plan (at once,
        before anything is submitted), or every worker stays paused for
        ``Options.worker_timeout`` seconds.
    TimeoutError
        When no worker joins the client's cluster within
        ``Options.worker_timeout`` seconds.
    RuntimeError
        When the job loses workers more than a few times per worker, or
        is left without any for ``Options.worker_timeout`` seconds.

    Examples
    --------
    >>> import os, tempfile, numpy as np, quelmar_tools.dask
    >>> folder = tempfile.mkdtemp()
    >>> edges = os.path.join(folder, "edges.txt")
    >>> clusters = os.path.join(folder, "clusters.txt")
    >>> np.savetxt(edges, [[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]], fmt="%d")
    >>> np.savetxt(clusters, [[1, 0], [2, 0], [3, 0], [4, 7], [5, 7], [6, 7]], fmt="%d")
    >>> table = quelmar_tools.dask.cluster_table(edges, clusters).compute()
    >>> table.sort_index()[["n", "m", "c"]].to_dict("list")
    {'n': [3, 3], 'm': [3, 2], 'c': [1, 1]}
    """
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
    """Compare the sizes of a clustering's clusters with those in another, on a Dask cluster.

    The same as ``compute_size_diff`` of the clusters selected by ``ids``
    against the clustering ``other`` of the same graph: each selected
    cluster is compared with the cluster of the same id in ``other``.

    Parameters
    ----------
    edges : str, os.PathLike or sequence of them
        The graph's edge list: a path, a glob or a list of them (one graph
        may be split over many files), in the module's text format, or
        Parquet files whose first two columns hold unsigned 64-bit
        integers.
    clustering : str, os.PathLike or sequence of them
        The clustering: files as for `edges`, one membership
        ("node cluster") per line or row.
    other : str, os.PathLike or sequence of them
        The clustering to compare with: files as for `edges`, one
        membership ("node cluster") per line or row.
    ids : sequence of int, optional
        Only these clusters, as ``select_in`` takes them; all when None.
    client : distributed.Client, optional
        The cluster to run on; by default the client Dask would use, and
        without one Dask's local scheduler in this process.
    options : Options, default Options()
        How the work is cut; by default chosen from the memory limits of
        the client's workers and the size of the input.
    compute : bool, default True
        Whether to wait for the result; False returns a Future (or
        Delayed) as `statistics` does, errors included.

    Returns
    -------
    tuple of (int, list of float), or distributed.Future or dask.delayed.Delayed
        The number of grown clusters and the 21 percentiles of the
        relative size changes; with ``compute=False`` a Future of them (a
        Delayed when there is no client).

    Raises
    ------
    LineError
        A malformed line ("file:line: message", the first in the order of
        the files as given), or the second line of one cluster naming a
        node the graph lacks.
    FileNotFoundError
        For a path or a glob that names no file.
    OSError
        When a file cannot be read, or shrinks during the job.
    ValueError
        When no input file is given, or for a shuffle method that Dask
        does not know.
    LookupError
        ``"no entry found for key"``, when a selected cluster's id is
        missing from `other` (where the module raises ``PanicException``
        with that text).
    MemoryError
        When a worker's memory limit is too small for the plan (at once,
        before anything is submitted), or every worker stays paused for
        ``Options.worker_timeout`` seconds.
    TimeoutError
        When no worker joins the client's cluster within
        ``Options.worker_timeout`` seconds.
    RuntimeError
        When the job loses workers more than a few times per worker, or
        is left without any for ``Options.worker_timeout`` seconds.

    Examples
    --------
    >>> import os, tempfile, numpy as np, quelmar_tools.dask
    >>> folder = tempfile.mkdtemp()
    >>> edges = os.path.join(folder, "edges.txt")
    >>> clusters = os.path.join(folder, "clusters.txt")
    >>> np.savetxt(edges, [[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]], fmt="%d")
    >>> np.savetxt(clusters, [[1, 0], [2, 0], [3, 0], [4, 7], [5, 7], [6, 7]], fmt="%d")
    >>> other = os.path.join(folder, "other.txt")
    >>> np.savetxt(other, [[1, 0], [2, 0], [3, 0], [4, 0], [5, 7], [6, 7]], fmt="%d")
    >>> grown, changes = quelmar_tools.dask.size_diff(edges, clusters, other)
    >>> grown, changes[0], changes[20]
    (1, -0.3333333333333333, 0.3333333333333333)
    """
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
    """Measure how far two clusterings agree, counting their overlaps on a Dask cluster.

    ``quelmar_tools.compare`` of two clusterings: the contingency is
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
    is no client), as ``statistics`` gives it.

    Parameters
    ----------
    clustering_a : str, os.PathLike or sequence of them
        The first clustering: files as for the edges of `statistics`, one
        membership ("node cluster") per line or row.
    clustering_b : str, os.PathLike or sequence of them
        The second clustering: files as for the edges of `statistics`, one
        membership ("node cluster") per line or row.
    edges : str, os.PathLike or sequence of them, optional
        The graph's edge list, as for `statistics`; None takes the graph to
        be the nodes that either side names.
    ids, other_ids : sequence of int, optional
        Only these clusters of the first and of the second clustering; all
        when None.
    measures : str or sequence of str, optional
        As for ``quelmar_tools.compare``, ``omega`` aside: None
        (``DEFAULT_MEASURES``), "all" (every measure that applies but
        ``omega``), or names.
    uncovered : {"singletons", "drop"}, default "singletons"
        What becomes of nodes that a side leaves uncovered, as above.
    client : distributed.Client, optional
        The cluster to run on; by default the client Dask would use, and
        without one Dask's local scheduler in this process.
    options : Options, default Options()
        How the work is cut; by default chosen from the memory limits of
        the client's workers and the size of the input.
    compute : bool, default True
        Whether to wait for the result; False returns a Future (or
        Delayed), as above, errors included.

    Returns
    -------
    dict of str to float, or distributed.Future or dask.delayed.Delayed
        Each measure's name to its value, in the order asked; with
        ``compute=False`` a Future of the dict (a Delayed when there is no
        client).

    Raises
    ------
    LineError
        A malformed line ("file:line: message", the first in the order of
        the files as given).
    FileNotFoundError
        For a path or a glob that names no file.
    OSError
        When a file cannot be read, or shrinks during the job.
    ValueError
        For ``omega``, an unknown measure or `uncovered` policy (naming
        it), a partition measure named explicitly while a side has
        overlapping clusters, no input file, or a shuffle method that Dask
        does not know.
    MemoryError
        When a worker's memory limit is too small for the plan (at once,
        before anything is submitted), or every worker stays paused for
        ``Options.worker_timeout`` seconds.
    TimeoutError
        When no worker joins the client's cluster within
        ``Options.worker_timeout`` seconds.
    RuntimeError
        When the job loses workers more than a few times per worker, or
        is left without any for ``Options.worker_timeout`` seconds.

    Examples
    --------
    >>> import os, tempfile, numpy as np, quelmar_tools.dask
    >>> folder = tempfile.mkdtemp()
    >>> edges = os.path.join(folder, "edges.txt")
    >>> clusters = os.path.join(folder, "clusters.txt")
    >>> np.savetxt(edges, [[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]], fmt="%d")
    >>> np.savetxt(clusters, [[1, 0], [2, 0], [3, 0], [4, 7], [5, 7], [6, 7]], fmt="%d")
    >>> other = os.path.join(folder, "other.txt")
    >>> np.savetxt(other, [[1, 0], [2, 0], [3, 0], [4, 0], [5, 7], [6, 7]], fmt="%d")
    >>> measures = quelmar_tools.dask.compare(clusters, other, edges=edges)
    >>> {name: round(value, 4) for name, value in measures.items()}
    {'nmi': 0.4787, 'ari': 0.3243, 'vi': 0.6931, 'f1': 0.8286}
    """
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
    """Match every cluster of one clustering with its best match in another, as a Dask dataframe.

    ``quelmar_tools.match_table`` of two clusterings, equal to it bit for
    bit. Nothing is computed until the caller computes or writes the
    frame; input errors are raised then.

    Parameters
    ----------
    clustering_a, clustering_b : str, os.PathLike or sequence of them
        The two clusterings, as for `compare`.
    edges : str, os.PathLike or sequence of them, optional
        The graph's edge list, as for `compare`.
    ids, other_ids : sequence of int, optional
        Only these clusters of the first and of the second clustering; all
        when None.
    uncovered : {"singletons", "drop"}, default "singletons"
        As for `compare`.
    reverse : bool, default False
        The same table the other way round: one row per cluster of the
        second clustering, matched among those of the first.
    client : distributed.Client, optional
        The cluster to run on; by default the client Dask would use, and
        without one Dask's local scheduler in this process.
    options : Options, default Options()
        How the work is cut; by default chosen from the memory limits of
        the client's workers and the size of the input.

    Returns
    -------
    dask.dataframe.DataFrame
        One partition, index ``id`` (ascending), the columns of
        ``quelmar_tools.match_table``.

    Raises
    ------
    LineError
        A malformed line ("file:line: message", the first in the order of
        the files as given).
    FileNotFoundError
        For a path or a glob that names no file.
    OSError
        When a file cannot be read, or shrinks during the job.
    ValueError
        For an unknown `uncovered` policy, no input file, or a shuffle
        method that Dask does not know.
    MemoryError
        When a worker's memory limit is too small for the plan (at once,
        before anything is submitted), or every worker stays paused for
        ``Options.worker_timeout`` seconds.
    TimeoutError
        When no worker joins the client's cluster within
        ``Options.worker_timeout`` seconds.
    RuntimeError
        When the job loses workers more than a few times per worker, or
        is left without any for ``Options.worker_timeout`` seconds.

    Examples
    --------
    >>> import os, tempfile, numpy as np, quelmar_tools.dask
    >>> folder = tempfile.mkdtemp()
    >>> edges = os.path.join(folder, "edges.txt")
    >>> clusters = os.path.join(folder, "clusters.txt")
    >>> np.savetxt(edges, [[1, 2], [2, 3], [3, 1], [3, 4], [4, 5], [5, 6]], fmt="%d")
    >>> np.savetxt(clusters, [[1, 0], [2, 0], [3, 0], [4, 7], [5, 7], [6, 7]], fmt="%d")
    >>> other = os.path.join(folder, "other.txt")
    >>> np.savetxt(other, [[1, 0], [2, 0], [3, 0], [4, 0], [5, 7], [6, 7]], fmt="%d")
    >>> table = quelmar_tools.dask.match_table(clusters, other, edges=edges).compute()
    >>> table[["match", "intersection"]].to_dict("list")
    {'match': [0, 7], 'intersection': [3, 2]}
    """
    from quelmar_tools.dask import _agreement

    counted = _agreement.planned(clustering_a, clustering_b, edges, ids, other_ids, uncovered,
                                 options, _client(client))
    part = _calls.delayed(_agreement.table)(counted, reverse)
    return _calls.from_delayed([part], _agreement.TABLE_META)
