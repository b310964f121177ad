"""quelmar_tools.plot draws the data: scatter offsets against the table,
the flagged clusters against well_connected's own report, heatmap cells
against plain sets of members, summary lines against the percentiles; the
edge cases users meet; and matplotlib as an optional, lazily loaded extra."""

import io
import math
import os
import subprocess
import sys
import warnings
from collections import Counter

import networkx as nx
import numpy as np
import pandas as pd
import pytest

pytest.importorskip("matplotlib")
from matplotlib.figure import Figure  # noqa: E402

import quelmar_tools  # noqa: E402
from quelmar_tools import plot  # noqa: E402
from support import run_python  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXTRA = 'pip install "quelmar[plot]"'


@pytest.fixture(autouse=True)
def _close_figures():
    # Calls without ax= make pyplot figures, which pyplot keeps until closed.
    yield
    import matplotlib.pyplot as plt

    plt.close("all")


@pytest.fixture(scope="module")
def case():
    """Dense blocks joined sparsely; clusters that are blocks, unions of
    blocks, random sets (often disconnected) and small ones, overlapping;
    a second clustering of coarser blocks."""
    rng = np.random.default_rng(7)
    network = nx.Graph()
    blocks, start = [], 0
    for size in (6, 9, 14, 18, 25, 30):
        block = list(range(start, start + size))
        start += size
        network.add_edges_from((u, v) for i, u in enumerate(block) for v in block[i + 1:]
                               if rng.random() < 0.6)
        blocks.append(block)
    network.add_edges_from(map(tuple, rng.integers(0, start, size=(40, 2)).tolist()))
    network.remove_edges_from(nx.selfloop_edges(network))
    clusters = [block for block in blocks] + [blocks[3] + blocks[4], blocks[0][:3]]
    clusters += [sorted(set(rng.choice(start, size=k).tolist())) for k in (12, 20, 15)]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        graph = quelmar_tools.graph_from(network)
        a = quelmar_tools.clustering_from(graph, clusters)
        b = quelmar_tools.clustering_from(
            graph, {5 * k: list(range(17 * k, 17 * k + 17)) for k in range(6)})
    table = quelmar_tools.cluster_table(a, measures=["mincut", "conductance"])
    return a, b, table


def offsets(collection):
    return sorted(map(tuple, np.asarray(collection.get_offsets()).tolist()))


def rows(table, *columns):
    frame = table[list(columns)].astype(float)
    frame = frame[np.isfinite(frame).all(axis=1)]
    return sorted(map(tuple, frame.values.tolist()))


def rendered(axes_or_figure):
    """Draws to PNG bytes, so that drawing itself is exercised."""
    figure = axes_or_figure if isinstance(axes_or_figure, Figure) else axes_or_figure.figure
    out = io.BytesIO()
    figure.savefig(out, format="png")
    return out.getvalue()


@pytest.mark.parametrize("measure", ["density", "conductance", "mincut", "m", "modularity"])
def test_measure_by_size_draws_each_cluster_with_a_value(case, measure):
    _, _, table = case
    ax = plot.measure_by_size(table, measure)
    (points,) = ax.collections
    assert offsets(points) == rows(table, "n", measure)
    assert ax.get_xscale() == "log" and ax.get_ylabel() == measure


def test_size_distribution_counts_the_clusters_at_least_as_large(case):
    _, _, table = case
    sizes = table["n"].tolist()
    (line,) = plot.size_distribution(table).lines
    distinct = sorted(set(sizes))
    assert line.get_xdata().tolist() == distinct
    assert line.get_ydata().tolist() == [sum(s >= n for s in sizes) for n in distinct]


CRITERIA = ["log10", "2log10+1", "0.1n^0.5", "3", lambda n: -1.0, lambda n: n / 4,
            lambda n: math.inf, lambda n: math.nan]


@pytest.mark.parametrize("min_size", [2, 11])
@pytest.mark.parametrize("criterion", CRITERIA)
def test_connectivity_flags_exactly_what_well_connected_changes(case, criterion, min_size):
    a, _, table = case
    report = quelmar_tools.well_connected(a, criterion=criterion, min_size=min_size).report
    changed = report.index[~report["well_connected"] & (report["n"] >= min_size)]
    ax = plot.connectivity(table, criterion=criterion, min_size=min_size)
    groups = {points.get_gid(): offsets(points) for points in ax.collections}
    assert groups[plot.FAILING] == rows(table.loc[changed], "n", "mincut")
    kept = table.index[report["well_connected"]]
    assert groups[plot.PASSING] == rows(table.loc[kept], "n", "mincut")
    assert groups[plot.SMALL] == rows(table[table["n"] < min_size], "n", "mincut")
    assert plot.FAILING in ax.get_legend_handles_labels()[1][2]


def test_connectivity_curve_is_the_criterion(case):
    _, _, table = case
    ax = plot.connectivity(table, criterion="2log10+1", min_size=5)
    (curve,) = [line for line in ax.lines if line.get_label().startswith("t(n)")]
    x = np.asarray(curve.get_xdata())
    assert x[0] == 5 and x[-1] == table["n"].max()
    np.testing.assert_allclose(curve.get_ydata(), 2 * np.log10(x) + 1)


def jaccard_by_sets(a, b, rows_, columns):
    members = {}
    for clustering, side in ((a, "a"), (b, "b")):
        for node, cluster in quelmar_tools.memberships(clustering).values.tolist():
            members.setdefault((side, cluster), set()).add(node)
    return [[len(members["a", r] & members["b", c]) / len(members["a", r] | members["b", c])
             for c in columns] for r in rows_]


def largest(clustering, ids, top):
    sizes = Counter(quelmar_tools.memberships(clustering, ids)["cluster"].tolist())
    return sorted(sizes, key=lambda key: (-sizes[key], key))[:top]


@pytest.mark.parametrize("top, ids, other_ids", [(20, None, None), (4, None, None),
                                                  (3, [0, 2, 4, 6, 8], [5, 10, 25])])
def test_heatmap_cells_are_jaccard_of_the_largest_clusters(case, top, ids, other_ids):
    a, b, _ = case
    ax = plot.overlap_heatmap(a, b, top=top, ids=ids, other_ids=other_ids)
    want_rows, want_columns = largest(a, ids, top), largest(b, other_ids, top)
    assert [t.get_text() for t in ax.get_yticklabels()] == list(map(str, want_rows))
    assert [t.get_text() for t in ax.get_xticklabels()] == list(map(str, want_columns))
    cells = np.asarray(ax.images[0].get_array())
    np.testing.assert_allclose(cells, jaccard_by_sets(a, b, want_rows, want_columns))


def test_best_match_histogram_counts_every_matched_cluster(case):
    a, b, _ = case
    matches = quelmar_tools.match_table(a, b)
    values = matches["jaccard"].dropna().tolist()
    ax = plot.best_match_jaccard(matches)
    bars = ax.patches
    assert len(bars) == plot.JACCARD_BINS and sum(bar.get_height() for bar in bars) == len(values)
    for bar in bars[:-1]:
        low, high = bar.get_x(), bar.get_x() + bar.get_width()
        assert bar.get_height() == sum(low <= v < high for v in values)
    unmatched = matches.iloc[:2].assign(jaccard=np.nan)
    title = plot.best_match_jaccard(pd.concat([matches, unmatched])).get_title(loc="left")
    assert "2 without a match" in title


def test_summary_lines_are_the_percentiles(case):
    a, _, _ = case
    stats = a.select(lambda cluster: True).compute_statistics()
    distributions = stats.distributions
    figure = plot.summaries(stats)
    drawn = [axes for axes in figure.axes if axes.lines]
    assert [axes.get_title(loc="left") for axes in drawn] == [
        plot.PANELS[name][0] for name in plot.PANELS if name in distributions]
    for axes, name in zip(drawn, [name for name in plot.PANELS if name in distributions]):
        line, median = axes.lines[:2]
        assert line.get_xdata().tolist() == quelmar_tools.PERCENTILES
        assert line.get_ydata().tolist() == distributions[name].percentiles
        assert median.get_ydata().tolist() == [distributions[name].percentiles[10]]
    target = Figure()
    assert plot.summaries(stats, statistics=["density"], figure=target) is target
    assert [axes.get_title(loc="left") for axes in target.axes] == ["Density"]
    with pytest.raises(ValueError, match="'nope'.*density"):
        plot.summaries(stats, statistics=["nope"])
    rendered(figure)


def edge_tables(table):
    one_member = pd.DataFrame({"n": [1, 12, 12], "mincut": [np.nan, 0.0, 5.0],
                               "density": [np.nan, 0.5, 0.9], "jaccard": [np.nan, 1.0, 0.2]},
                              index=pd.Index([3, 4, 5], name="id"))
    equal = table[table["n"] == table["n"].iloc[0]].assign(jaccard=0.5)
    return {"empty": table.iloc[:0].assign(jaccard=0.0), "single": table.iloc[:1].assign(
        jaccard=1.0), "one member, NaN mincut": one_member, "all sizes equal": equal}


@pytest.mark.parametrize("name", ["empty", "single", "one member, NaN mincut",
                                  "all sizes equal"])
def test_edge_cases_draw_what_there_is_without_warnings(case, name):
    table = edge_tables(case[2])[name]
    calls = [lambda ax: plot.size_distribution(table, ax=ax),
             lambda ax: plot.measure_by_size(table, "density", ax=ax),
             lambda ax: plot.connectivity(table, ax=ax),
             lambda ax: plot.best_match_jaccard(table, ax=ax)]
    figure = Figure()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        for call, ax in zip(calls, figure.subplots(2, 2).flat):
            assert call(ax) is ax
        rendered(figure)
    (line,) = figure.axes[0].lines
    assert len(line.get_xdata()) == table["n"].nunique()
    failing = [c for c in figure.axes[2].collections if c.get_gid() == plot.FAILING]
    assert offsets(failing[0]) == rows(table[(table["n"] >= 11) & (table["mincut"] < 2)],
                                       "n", "mincut")


def test_heatmap_of_no_clusters_and_of_other_graphs(case):
    a, b, _ = case
    ax = plot.overlap_heatmap(a, b, ids=[])
    assert not ax.images and ax.texts[0].get_text() == plot.NO_CLUSTERS
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        other = quelmar_tools.clustering_from(quelmar_tools.graph_from([[1, 2]]), [[1, 2]])
    with pytest.raises(ValueError, match="different graphs"):
        plot.overlap_heatmap(a, other)
    with pytest.raises(ValueError, match="top must be at least 1, got 0"):
        plot.overlap_heatmap(a, b, top=0)


def test_bad_arguments_name_the_value(case):
    _, _, table = case
    with pytest.raises(ValueError, match="no column 'mincut'"):
        plot.connectivity(table[["n", "m"]])
    with pytest.raises(ValueError, match="min_size must be at least 2, got 1"):
        plot.connectivity(table, min_size=1)
    with pytest.raises(ValueError, match="'log11'"):
        plot.connectivity(table, criterion="log11")
    with pytest.raises(TypeError, match="column 'name' is not numeric"):
        plot.measure_by_size(table.assign(name="x"), "name")


def test_matplotlib_loads_on_first_call_and_pyplot_only_for_figures_of_its_own():
    result = run_python("""
        import sys
        import quelmar_tools, quelmar_tools.plot as plot
        print("matplotlib" in sys.modules)
        table = quelmar_tools.cluster_table(quelmar_tools.clustering_from(
            quelmar_tools.graph_from([[1, 2], [2, 3], [3, 1]]), [[1, 2, 3]]))
        from matplotlib.figure import Figure
        ax = plot.size_distribution(table, ax=Figure().add_subplot())
        print("matplotlib" in sys.modules, "matplotlib.pyplot" in sys.modules)
        ax = plot.size_distribution(table)
        import matplotlib.pyplot as plt
        print(plt.gcf() is ax.figure, len(plt.get_fignums()))
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["False", "True", "False", "True", "1"]


def test_without_matplotlib_every_call_names_the_extra_before_any_work():
    result = run_python("""
        import sys
        sys.modules["matplotlib"] = None
        from quelmar_tools import plot
        calls = [lambda: plot.summaries(None), lambda: plot.size_distribution(None),
                 lambda: plot.measure_by_size(None, "x"), lambda: plot.connectivity(None),
                 lambda: plot.overlap_heatmap(None, None), lambda: plot.best_match_jaccard(None),
                 plot.require_matplotlib]
        for call in calls:
            try:
                call()
            except ImportError as error:
                print(error)
    """)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == 7 and all(line == plot.MISSING_MATPLOTLIB for line in lines)
    assert EXTRA in plot.MISSING_MATPLOTLIB


def test_example_writes_its_png(tmp_path):
    out = tmp_path / "summaries.png"
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    result = subprocess.run([sys.executable, os.path.join(ROOT, "examples", "plot_summaries.py"),
                             "--out", str(out)], env=environment, capture_output=True,
                            text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
