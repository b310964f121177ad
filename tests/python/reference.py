"""A plain-Python twin of the statistics: the same definitions computed the
obvious way (sets and full sorts), for comparison on random inputs."""

import math


def load_edges(edges):
    """Adjacency sets by node name."""
    adjacency = {}
    for a, b in edges:
        adjacency.setdefault(a, set()).add(b)
        adjacency.setdefault(b, set()).add(a)
    return adjacency


def load_clusters(adjacency, memberships):
    """Clusters of at least two distinct known members, by id (callers give
    only known names, so the unknown-node rule does not come into play)."""
    clusters = {}
    for node, cluster in memberships:
        clusters.setdefault(cluster, set()).add(node)
    return {k: v for k, v in sorted(clusters.items()) if len(v) >= 2}


def counts(adjacency, members):
    inside = outside = 0
    for u in members:
        for v in adjacency[u]:
            if v in members:
                inside += 1
            else:
                outside += 1
    degrees = [len(adjacency[u]) for u in members]
    return {"n": len(members), "m": inside // 2, "c": outside, "mcd": min(degrees),
            "vol": sum(degrees)}


FRACTIONS = [0.0] + [float(i) * 0.05 for i in range(1, 20)] + [1.0]


def summary(values):
    values = sorted(v for v in values if not math.isnan(v))
    if not values:
        return [0.0] * 21
    out = []
    for p in FRACTIONS:
        rank = p * float(len(values) - 1)
        lo, hi = math.floor(rank), math.ceil(rank)
        if lo == hi:
            out.append(values[lo])
        else:
            f = rank - float(lo)
            out.append(f * values[hi] + (1.0 - f) * values[lo])
    return out


def pairs(n):
    return n * (n - 1) // 2 if n else 0


def divide(a, b):
    if b == 0.0:
        return math.nan if a == 0.0 or math.isnan(a) else math.copysign(math.inf, a)
    return a / b


def per_cluster(c, total_edges, cpm):
    m, n = float(c["m"]), float(c["n"])
    big_m = float(total_edges)
    a = divide(m, big_m)
    q = divide(float(2 * c["m"] + c["c"]), big_m + big_m)
    values = {
        "mcd": float(c["mcd"]),
        "size": n,
        "modularity": a - (q * q) * 1.0,
        "deviationtreeness": float(c["m"] + 1 - c["n"]) / n,
        "density": m / float(pairs(c["n"])),
    }
    if cpm is not None:
        values["cpm"] = m - float(pairs(c["n"])) * cpm
    return values


def statistics(adjacency, clusters, keys, cpm=None):
    kept = [members for k, members in clusters.items() if k in set(keys)]
    total_edges = sum(len(v) for v in adjacency.values()) // 2
    covered_nodes = set().union(*kept) if kept else set()
    covered_edges = set()
    for members in kept:
        for u in members:
            covered_edges.update(frozenset((u, v)) for v in adjacency[u] if v in members)
    columns = {}
    for members in kept:
        for name, value in per_cluster(counts(adjacency, members), total_edges, cpm).items():
            columns.setdefault(name, []).append(value)
    names = ["mcd", "size", "modularity", "deviationtreeness", "density"]
    names += ["cpm"] if cpm is not None else []
    return {
        "num_clusters": len(kept),
        "covered_nodes": len(covered_nodes),
        "covered_edges": len(covered_edges),
        "total_nodes": len(adjacency),
        "total_edges": total_edges,
        "distributions": {name: summary(columns.get(name, [])) for name in names},
    }


def size_diff(clusters, keys, other):
    """(count of grown, summary of relative changes); KeyError when `other`
    lacks a selected cluster."""
    changes = []
    for k, members in clusters.items():
        if k in set(keys):
            n_a, n_b = float(len(members)), float(len(other[k]))
            changes.append((n_b - n_a) / n_a)
    return sum(1 for c in changes if c > 0.0), summary(changes)
