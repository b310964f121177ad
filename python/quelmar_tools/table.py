"""Per-cluster tables: the five counts of every cluster and the values of
the statistics computed from them."""

from __future__ import annotations

COUNT_COLUMNS = ("n", "m", "c", "mcd", "vol")
VALUE_COLUMNS = ("size", "density", "modularity", "deviationtreeness")
CPM_COLUMN = "cpm"


def table_columns(with_cpm: bool) -> list[str]:
    """The columns of a cluster table, in order (the index ``id`` aside)."""
    return [*COUNT_COLUMNS, *VALUE_COLUMNS, *([CPM_COLUMN] if with_cpm else [])]
