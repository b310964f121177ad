"""The whole job written the way a skilled numpy/scipy user would: vectorised.

    python bench/full_job/numpy_twin.py GRAPH CLUSTERING [--cpm R] [--other CLUSTERING]

Prints one JSON object: the coverage counts, the 21-point summary of every
statistic (numpy's linear-interpolation quantiles at i * 0.05), with --other
the size comparison of every cluster of a second clustering against the
cluster of the same id in the first, the wall
time of each phase and the peak resident memory. Used as the reference that
bench/full_job/compare.py runs beside the module. Text is parsed by numpy's C
reader straight into unsigned integers, names are numbered by a hash table
(pandas) and the adjacency is built by scipy: no Python loop over lines, nodes
or clusters. Clustering lines naming nodes the graph lacks are dropped (the
module's one-unknown-node rule only decides between loading and failing).
"""

import argparse
import json
import resource
import time

import numpy as np
import pandas as pd
import scipy.sparse

FRACTIONS = np.array([0.0] + [i * 0.05 for i in range(1, 20)] + [1.0])


def load_pairs(path):
    return np.loadtxt(path, dtype=np.uint64, usecols=(0, 1), ndmin=2)


def build_graph(path):
    """Compact adjacency with sorted, deduplicated, symmetric neighbour lists."""
    pairs = load_pairs(path)
    # Row-major: from before to, line by line, so ids follow first appearance.
    codes, names = pd.factorize(pairs.ravel())
    del pairs
    n = names.size
    u, v = codes[0::2], codes[1::2]
    rows = np.concatenate([u, v])
    cols = np.concatenate([v, u])
    del codes, u, v
    ones = np.ones(rows.size, dtype=np.int8)
    adjacency = scipy.sparse.csr_matrix((ones, (rows, cols)), shape=(n, n))
    del rows, cols, ones
    adjacency.sum_duplicates()  # sorted, one entry per neighbour
    offsets = adjacency.indptr.astype(np.int64)
    degree = np.diff(offsets)
    return pd.Index(names), degree, offsets, adjacency.indices


def load_memberships(path, names):
    """Distinct (cluster rank, node id) memberships of clusters with two or more members,
    and the ids of those clusters."""
    pairs = load_pairs(path)
    position = names.get_indexer(pairs[:, 0])
    known = position >= 0
    cluster_values, cluster_rank = np.unique(pairs[known, 1], return_inverse=True)
    n = names.size
    memberships = np.unique(cluster_rank.astype(np.int64) * n + position[known])
    cluster, node = memberships // n, memberships % n
    sizes = np.bincount(cluster, minlength=cluster_values.size)
    keep = sizes[cluster] >= 2
    return memberships[keep], cluster[keep], node[keep], cluster_values, sizes


def summarise(values):
    values = values[~np.isnan(values)]
    if values.size == 0:
        return [0.0] * 21
    return np.quantile(values, FRACTIONS, method="linear").tolist()


def size_diff(ids, sizes, other_path, names):
    """Relative size change of every cluster of the second clustering against
    the cluster of the same id in the first (`ids` ascending, `sizes`)."""
    _, _, _, other_ids, other_sizes = load_memberships(other_path, names)
    kept = other_sizes >= 2
    other_ids, other_sizes = other_ids[kept], other_sizes[kept].astype(np.float64)
    at = np.searchsorted(ids, other_ids)
    at[at == ids.size] = 0
    if other_ids.size and not np.all(ids[at] == other_ids):
        raise KeyError("no entry found for key")
    change = (sizes[at].astype(np.float64) - other_sizes) / other_sizes
    return int(np.count_nonzero(change > 0)), summarise(change)


def job(graph_path, clustering_path, cpm, other_path):
    times = {}
    start = time.perf_counter()
    names, degree, offsets, target = build_graph(graph_path)
    n = names.size
    total_edges = int(offsets[-1]) // 2
    times["graph"] = time.perf_counter() - start

    start = time.perf_counter()
    memberships, cluster, node, cluster_values, all_sizes = load_memberships(clustering_path, names)
    # Expand every membership (k, u) into the adjacency entries of u.
    member_degree = degree[node]
    total_volume = int(member_degree.sum())
    first_entry = np.repeat(offsets[node] - (np.cumsum(member_degree) - member_degree),
                            member_degree)
    slot = np.arange(total_volume, dtype=np.int64) + first_entry
    entry_cluster = np.repeat(cluster, member_degree)
    wanted = entry_cluster * n + target[slot]
    found = np.searchsorted(memberships, wanted)
    found[found == memberships.size] = 0
    inside = memberships[found] == wanted

    # Memberships are sorted by cluster, so each cluster is one contiguous run.
    _, starts, sizes = np.unique(cluster, return_index=True, return_counts=True)
    run_of_entry = np.repeat(np.repeat(np.arange(sizes.size), sizes), member_degree)
    inside_count = np.bincount(run_of_entry[inside], minlength=sizes.size)
    if sizes.size:
        volume = np.add.reduceat(member_degree, starts)
        mcd = np.minimum.reduceat(member_degree, starts)
    else:
        volume = mcd = np.zeros(0, dtype=np.int64)
    size = sizes.astype(np.int64)
    m = inside_count >> 1
    c = volume - inside_count
    times["clustering"] = time.perf_counter() - start

    start = time.perf_counter()
    covered_nodes = np.unique(node).size
    covered_slots = np.zeros(int(offsets[-1]), dtype=bool)
    covered_slots[slot[inside]] = True
    covered_edges = int(np.count_nonzero(covered_slots)) // 2

    md, nd, big_m = m.astype(np.float64), size.astype(np.float64), float(total_edges)
    pairs = (size * (size - 1) // 2).astype(np.float64)
    with np.errstate(divide="ignore", invalid="ignore"):
        q = (2 * m + c).astype(np.float64) / (big_m + big_m)
        statistics = {
            "mcd": mcd.astype(np.float64),
            "size": nd,
            "modularity": md / big_m - (q * q) * 1.0,
            "deviationtreeness": (m + 1 - size).astype(np.float64) / nd,
            "density": md / pairs,
        }
        if cpm is not None:
            statistics["cpm"] = md - pairs * cpm
    distributions = {name: summarise(values) for name, values in statistics.items()}
    times["statistics"] = time.perf_counter() - start

    result = {
        "num_clusters": int(sizes.size),
        "covered_nodes": int(covered_nodes),
        "covered_edges": covered_edges,
        "total_nodes": int(n),
        "total_edges": total_edges,
        "distributions": distributions,
    }
    if other_path is not None:
        start = time.perf_counter()
        kept = all_sizes >= 2
        grew, summary = size_diff(cluster_values[kept], all_sizes[kept], other_path, names)
        result["size_diff"] = [grew, summary]
        times["size_diff"] = time.perf_counter() - start
    result["times"] = times
    result["peak_rss_bytes"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("graph")
    parser.add_argument("clustering")
    parser.add_argument("--cpm", type=float, default=None)
    parser.add_argument("--other", default=None)
    args = parser.parse_args()
    print(json.dumps(job(args.graph, args.clustering, args.cpm, args.other)))


if __name__ == "__main__":
    main()
