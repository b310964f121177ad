"""Side-by-side run of the whole job: the module on 1 and 2 threads, and the numpy twin.

    python bench/full_job/compare.py GRAPH CLUSTERING [--cpm R] [--other CLUSTERING]

Each contender runs in its own process (so peak memory is its own). Checks
that the module and the twin agree exactly on the counts and to 1e-12
relative on every summary entry, then prints times, peak memory and ratios.
With --other, the job ends with the size comparison of every cluster of a
second clustering (loaded and packed too) against the first.
"""

import argparse
import json
import math
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def run(script, args):
    out = subprocess.run([sys.executable, os.path.join(HERE, script), *args],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def close(a, b, scale):
    return a == b or math.isclose(a, b, rel_tol=1e-12, abs_tol=1e-12 * scale)


def agree(ours, twin):
    problems = []
    if "size_diff" in ours or "size_diff" in twin:
        (grew, summary), (twin_grew, twin_summary) = ours.get("size_diff"), twin.get("size_diff")
        scale = max((abs(e) for e in summary if math.isfinite(e)), default=0.0)
        if grew != twin_grew or not all(close(a, b, scale) for a, b in zip(summary, twin_summary)):
            problems.append(f"size_diff: {ours['size_diff']} != {twin['size_diff']}")
    for key in ("num_clusters", "covered_nodes", "covered_edges", "total_nodes", "total_edges"):
        if ours[key] != twin[key]:
            problems.append(f"{key}: {ours[key]} != {twin[key]}")
    if set(ours["distributions"]) != set(twin["distributions"]):
        problems.append("different statistics")
    for name, entries in ours["distributions"].items():
        # Interpolating between values of opposite sign can cancel to nearly
        # zero, so the tolerance is relative to the distribution's scale.
        scale = max((abs(e) for e in entries if math.isfinite(e)), default=0.0)
        for i, (a, b) in enumerate(zip(entries, twin["distributions"].get(name, []))):
            if not close(a, b, scale):
                problems.append(f"{name}[{i}]: {a!r} != {b!r}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("graph")
    parser.add_argument("clustering")
    parser.add_argument("--cpm", type=float, default=None)
    parser.add_argument("--other", default=None)
    args = parser.parse_args()
    common = [args.graph, args.clustering]
    common += [] if args.cpm is None else ["--cpm", str(args.cpm)]
    common += [] if args.other is None else ["--other", args.other]

    one = run("quelmar_job.py", common + ["--threads", "1"])
    two = run("quelmar_job.py", common + ["--threads", "2"])
    twin = run("numpy_twin.py", common)

    problems = agree(two, twin) + agree(one, two)
    print("agreement:", "exact counts, summaries within 1e-12" if not problems else problems)

    def total(result):
        return sum(result["times"].values())

    print(f"{'phase':<12}{'1 thread':>12}{'2 threads':>12}{'speedup':>9}{'numpy':>12}")
    for phase in ("graph", "clustering", "select", "statistics", "size_diff"):
        a, b = one["times"].get(phase, 0.0), two["times"].get(phase, 0.0)
        c = twin["times"].get(phase, 0.0)
        speedup = a / b if b else float("nan")
        print(f"{phase:<12}{a:>11.3f}s{b:>11.3f}s{speedup:>8.2f}x{c:>11.3f}s")
    print(f"{'whole job':<12}{total(one):>11.3f}s{total(two):>11.3f}s"
          f"{total(one) / total(two):>8.2f}x{total(twin):>11.3f}s")
    gib = 1024 ** 3
    print(f"peak memory: module {two['peak_rss_bytes'] / gib:.2f} GiB, "
          f"numpy {twin['peak_rss_bytes'] / gib:.2f} GiB "
          f"(ratio {two['peak_rss_bytes'] / twin['peak_rss_bytes']:.2f})")
    print(f"whole job, module on 2 threads vs numpy: {total(twin) / total(two):.2f}x faster")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
