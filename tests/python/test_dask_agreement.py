"""quelmar_tools.dask.compare and match_table against the in-process
compare and match_table on the same files: random small graphs with
overlapping and partition clusterings, both uncovered policies, text and
Parquet, with the graph's edges and without them (the graph then being the
nodes either side names)."""

import math
import random

import pandas as pd
import pytest

dask = pytest.importorskip("dask")

import quelmar
import quelmar_tools
from test_dask import random_case, write_parquet

pytest.importorskip("distributed")
qd = pytest.importorskip("quelmar_tools.dask")

OPTIONS = qd.Options(block_bytes=200, partitions=2)


def in_process(edge_file, a_file, b_file, **kwargs):
    graph = quelmar.Graph(edge_file)
    a, b = quelmar.Clustering(graph, a_file), quelmar.Clustering(graph, b_file)
    table_kwargs = {k: v for k, v in kwargs.items() if k != "measures"}
    return (quelmar_tools.compare(a, b, **kwargs),
            quelmar_tools.match_table(a, b, **table_kwargs),
            quelmar_tools.match_table(a, b, reverse=True, **table_kwargs))


def perturbed(rng, memberships, nodes):
    """The memberships with some graph nodes moved to other clusters, some
    lines dropped, and a new cluster."""
    known = set(nodes)
    out = [(n, c) for n, c in memberships if rng.random() > 0.15]
    out = [(n, rng.choice([c, 7, 2**64 - 2]) if n in known else c) for n, c in out]
    out += [(n, 41) for n in rng.sample(nodes, min(3, len(nodes)))]
    rng.shuffle(out)
    return out


def first_cluster(memberships):
    """Each node in the first cluster it is listed in: a partition."""
    seen = {}
    for n, c in memberships:
        seen.setdefault(n, c)
    return [(n, c) for n, c in memberships if seen[n] == c]


def assert_measures_equal(got, expected):
    assert list(got) == list(expected)
    for name, value in expected.items():
        assert math.isclose(got[name], value, rel_tol=1e-12, abs_tol=1e-15) or \
            (math.isnan(value) and math.isnan(got[name])), name


def check(client, edge_source, a_source, b_source, files_for_module, **kwargs):
    """The Dask results on the sources (`edge_source` None: without edges)
    equal the in-process ones on the files."""
    measures, table, reverse = in_process(*files_for_module, **kwargs)
    table_kwargs = {k: v for k, v in kwargs.items() if k != "measures"}
    got = qd.compare(a_source, b_source, edges=edge_source, client=client, options=OPTIONS,
                     **kwargs)
    assert_measures_equal(got, measures)
    frames = dask.compute(*(qd.match_table(a_source, b_source, edges=edge_source, client=client,
                                           options=OPTIONS, reverse=r, **table_kwargs)
                            for r in (False, True)))
    for frame, expected in zip(frames, (table, reverse)):
        pd.testing.assert_frame_equal(frame, expected, check_exact=True)


@pytest.mark.parametrize("seed", range(4))
def test_equal_in_process_on_text(client, files, seed):
    rng = random.Random(seed)
    edges, memberships = random_case(rng)
    nodes = sorted({x for e in edges for x in e})
    other = perturbed(rng, memberships, nodes)
    partitions = seed % 2 == 0
    if partitions:
        memberships, other = first_cluster(memberships), first_cluster(other)
    paths = (files.edges(edges), files.memberships(memberships),
             files.memberships(other, "other.txt"))
    kwargs = {"uncovered": ("singletons", "drop")[seed // 2]}
    if seed >= 2:
        kwargs |= {"ids": [2, 3, 41, 2**64 - 1], "other_ids": [7, 41, 99]}
    kwargs["measures"] = (["nmi", "nmi_max", "ari", "vi", "f1", "onmi"] if partitions
                          else (None, ["f1", "onmi"])[seed // 2])
    check(client, *paths, paths, **kwargs)


@pytest.mark.parametrize("seed", range(4))
def test_without_edges_the_graph_is_the_nodes_either_side_names(client, files, seed):
    """Equal to the in-process results on a graph whose nodes are exactly
    those the two files name: every one of them compared under
    "singletons", those both sides cover under "drop"."""
    rng = random.Random(100 + seed)
    edges, memberships = random_case(rng)
    other = perturbed(rng, memberships, sorted({x for e in edges for x in e}))
    if seed % 2 == 0:
        memberships, other = first_cluster(memberships), first_cluster(other)
    named = sorted({n for n, _ in memberships + other})
    union = list(zip(named, named[1:])) or [(named[0], named[0])]
    paths = (files.memberships(memberships), files.memberships(other, "other.txt"))
    kwargs = {"uncovered": ("singletons", "drop")[seed // 2],
              "measures": ["nmi", "ari", "vi", "f1", "onmi"] if seed % 2 == 0 else None}
    if seed == 1:
        kwargs |= {"ids": [1, 3, 2**64 - 1], "other_ids": [7, 41]}
    check(client, None, *paths, (files.edges(union, "union.txt"), *paths), **kwargs)


def test_equal_in_process_on_parquet(client, files):
    rng = random.Random(11)
    edges, memberships = random_case(rng)
    other = perturbed(rng, memberships, sorted({x for e in edges for x in e}))
    text = (files.edges(edges), files.memberships(memberships),
            files.memberships(other, "other.txt"))
    check(client, write_parquet(files.path("e"), edges, 2, 7),
          write_parquet(files.path("a"), memberships, 2, 4),
          write_parquet(files.path("b"), other, 3, 4), text)


def test_refusals_match_in_process(client, files):
    edges = [(1, 2), (2, 3), (3, 4), (4, 5)]
    cover = [(1, 10), (2, 10), (2, 20), (3, 20)]
    paths = (files.edges(edges), files.memberships(cover),
             files.memberships([(1, 5), (2, 5), (3, 6), (4, 6)], "other.txt"))
    graph = quelmar.Graph(paths[0])
    with pytest.raises(ValueError) as expected:
        quelmar_tools.compare(quelmar.Clustering(graph, paths[1]),
                              quelmar.Clustering(graph, paths[2]), measures=["nmi"])
    edge_file, clusterings = paths[0], paths[1:]
    with pytest.raises(ValueError) as got:
        qd.compare(*clusterings, edges=edge_file, measures=["nmi"], client=client,
                   options=OPTIONS)
    assert str(got.value) == str(expected.value)
    # The default leaves the partition measures out for a cover.
    assert list(qd.compare(*clusterings, client=client, options=OPTIONS)) == ["f1"]
    # "all" is every measure that applies and needs no members.
    assert list(qd.compare(*clusterings, measures="all", client=client,
                           options=OPTIONS)) == ["f1", "onmi"]
    with pytest.raises(ValueError, match="omega needs the members"):
        qd.compare(*clusterings, measures=["omega"], client=client, options=OPTIONS)
    with pytest.raises(ValueError) as got:
        qd.compare(*clusterings, uncovered="ignore", client=client, options=OPTIONS)
    with pytest.raises(ValueError) as expected:
        quelmar_tools.compare(quelmar.Clustering(graph, paths[1]),
                              quelmar.Clustering(graph, paths[2]), uncovered="ignore")
    assert str(got.value) == str(expected.value)
