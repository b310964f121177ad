"""Companion tools for the ``quelmar`` module: graphs and clusterings from
memory, per-cluster tables (with quality measures) and totals, agreement
between two clusterings, well-connected refinement of clusterings
(``well_connected``), members by name (``memberships``,
``write_clustering``), results as pandas tables or plain dicts, pictures of
them with matplotlib (``quelmar_tools.plot``, the ``plot`` extra), and the
``quelmar-stats`` and ``quelmar-wcc`` commands. ``quelmar_tools.dask``
computes the same statistics, tables and comparisons with Dask, for graphs
beyond one machine.

``quelmar_tools._native`` runs on the module's own native core, in the same
process: it reads the native values behind quelmar's objects and makes new
ones, on the one worker pool that ``quelmar.set_nthreads`` sizes.

``graph_from`` and ``clustering_from`` take a path or a source in memory:
edge arrays and tables, networkx and igraph graphs; mappings either way
round, lists of communities, membership vectors, (node, cluster) arrays and
tables, and the clusterings of igraph, networkit and cdlib. The module
``quelmar_tools.in_memory`` lists them with the rules they are read by.

The per-cluster table (``cluster_table``) has this fixed layout, which every
producer of such tables follows:

* index ``id``: the cluster ids, ascending, dtype uint64;
* ``n``, ``m``, ``c``, ``mcd``, ``vol`` (uint64): members, internal edges,
  cut size, smallest member degree and volume, as ``ClusterSkeleton`` shows
  them;
* ``size``, ``density``, ``modularity``, ``deviationtreeness`` (float64)
  and, only when a CPM resolution is given, ``cpm`` (float64): each cluster's
  value of that statistic, bit-identical to the value that
  ``compute_statistics()`` summarises under the same name (its ``mcd``
  summary is that of the ``mcd`` column as float64).

The value columns are a function of the five counts, the graph's edge count
and the CPM resolution alone (``cluster_values``), so they can be computed
for any block of counts.
"""

from importlib.metadata import version as _distribution_version
from typing import TYPE_CHECKING, Any

# The package's version as installed, stated once, in pyproject.toml.
__version__ = _distribution_version("quelmar")

if TYPE_CHECKING:
    from quelmar_tools.agreement import (
        ALL_MEASURES,
        DEFAULT_MEASURES,
        PARTITION_MEASURES,
        compare,
        match_table,
    )
    from quelmar_tools.building import clustering_from, graph_from
    from quelmar_tools.members import memberships, write_clustering
    from quelmar_tools.refinement import Refinement, well_connected
    from quelmar_tools.summaries import PERCENTILES, summarize, summary_table, to_dict
    from quelmar_tools.table import (
        COUNT_COLUMNS,
        CPM_COLUMN,
        MEASURES,
        VALUE_COLUMNS,
        cluster_counts,
        cluster_table,
        cluster_values,
        table_columns,
        totals,
    )

# Where each name lives. They load on first use, so that importing a
# submodule (as a Dask worker does for each task's function) does not load
# pandas: it costs a worker about 100 MiB of its memory limit.
_HOMES = {
    "agreement": ("ALL_MEASURES", "DEFAULT_MEASURES", "PARTITION_MEASURES", "compare",
                  "match_table"),
    "building": ("clustering_from", "graph_from"),
    "members": ("memberships", "write_clustering"),
    "refinement": ("Refinement", "well_connected"),
    "summaries": ("PERCENTILES", "summarize", "summary_table", "to_dict"),
    "table": ("COUNT_COLUMNS", "CPM_COLUMN", "MEASURES", "VALUE_COLUMNS", "cluster_counts",
              "cluster_table", "cluster_values", "table_columns", "totals"),
}
_HOME_OF = {name: module for module, names in _HOMES.items() for name in names}


def __getattr__(name: str) -> Any:
    module = _HOME_OF.get(name)
    if module is None:
        raise AttributeError(f"module 'quelmar_tools' has no attribute {name!r}")
    import importlib

    value = getattr(importlib.import_module(f"quelmar_tools.{module}"), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_HOME_OF))


__all__ = [
    "ALL_MEASURES",
    "COUNT_COLUMNS",
    "CPM_COLUMN",
    "DEFAULT_MEASURES",
    "MEASURES",
    "PARTITION_MEASURES",
    "PERCENTILES",
    "Refinement",
    "VALUE_COLUMNS",
    "cluster_counts",
    "cluster_table",
    "cluster_values",
    "clustering_from",
    "compare",
    "graph_from",
    "match_table",
    "memberships",
    "summarize",
    "summary_table",
    "table_columns",
    "to_dict",
    "totals",
    "well_connected",
    "write_clustering",
]
