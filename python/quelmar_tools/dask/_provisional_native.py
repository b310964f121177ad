"""Stand-ins for native routines, until they land."""
import numpy as np


def cluster_values(columns, edges, cpm):
    n = columns["n"]; m = columns["m"]; c = columns["c"]
    pairs = np.where(n == 0, 0, n * (n - np.uint64(1)) // np.uint64(2))
    fm = m.astype(np.float64)
    total = float(edges)
    with np.errstate(all="ignore"):
        out = {
            "size": n.astype(np.float64),
            "density": fm / pairs.astype(np.float64),
            "modularity": fm / total - ((2 * m + c).astype(np.float64) / (total + total)) ** 2,
            "deviationtreeness": (m.astype(np.int64) + 1 - n.astype(np.int64)).astype(np.float64) / n.astype(np.float64),
        }
        if cpm is not None:
            out["cpm"] = fm - pairs.astype(np.float64) * cpm
    return out


def summarize(values):
    v = np.sort(values[~np.isnan(values)])
    if v.size == 0:
        return [0.0] * 21
    out = []
    for i in range(21):
        p = 0.0 if i == 0 else 1.0 if i == 20 else i * 0.05
        rank = p * float(v.size - 1)
        lo, hi = int(np.floor(rank)), int(np.ceil(rank))
        f = rank - lo
        out.append(float(f * v[hi] + (1 - f) * v[lo]))
    return out


def size_changes(before, after):
    a = before.astype(np.float64)
    return (after.astype(np.float64) - a) / a


def unresolved_message(token, cluster):
    return f"node {token} requested in cluster {cluster} not found in graph, and is not singleton"
