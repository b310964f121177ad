"""The whole job with the module: load graph, build clustering, select all, statistics.

    python bench/full_job/quelmar_job.py GRAPH CLUSTERING [--cpm R] [--other CLUSTERING] [--threads N]

Prints one JSON object in the same shape as numpy_twin.py.
"""

import argparse
import json
import resource
import time

import quelmar


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("graph")
    parser.add_argument("clustering")
    parser.add_argument("--cpm", type=float, default=None)
    parser.add_argument("--other", default=None)
    parser.add_argument("--threads", type=int, default=0)
    args = parser.parse_args()

    quelmar.set_nthreads(args.threads)
    times = {}
    start = time.perf_counter()
    graph = quelmar.Graph(args.graph)
    times["graph"] = time.perf_counter() - start

    start = time.perf_counter()
    extra = {} if args.cpm is None else {"cpm": args.cpm}
    clustering = quelmar.Clustering(graph, args.clustering, **extra)
    times["clustering"] = time.perf_counter() - start

    start = time.perf_counter()
    everything = clustering.select(lambda cluster: True)
    times["select"] = time.perf_counter() - start

    start = time.perf_counter()
    stats = everything.compute_statistics()
    times["statistics"] = time.perf_counter() - start

    result = {
        "num_clusters": stats.num_clusters,
        "covered_nodes": stats.covered_nodes,
        "covered_edges": stats.covered_edges,
        "total_nodes": stats.total_nodes,
        "total_edges": stats.total_edges,
        "distributions": {name: s.percentiles for name, s in stats.distributions.items()},
    }
    if args.other is not None:
        start = time.perf_counter()
        other = quelmar.Clustering(graph, args.other).select(lambda cluster: True)
        grew, summary = other.compute_size_diff(clustering)
        result["size_diff"] = [grew, summary.percentiles]
        times["size_diff"] = time.perf_counter() - start
    result["times"] = times
    result["peak_rss_bytes"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(json.dumps(result))


if __name__ == "__main__":
    main()
