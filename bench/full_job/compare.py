"""Side-by-side run of the whole job: the module on 1 and 2 threads, and the numpy twin.

    python bench/full_job/compare.py GRAPH CLUSTERING [--cpm R] [--other CLUSTERING] [--module-only]

Each contender runs in its own process (so peak memory is its own). Checks
that the module and the twin agree exactly on the counts and to 1e-12
relative on every summary entry, then prints times, peak memory and ratios.
With --other, the job ends with the size comparison of every cluster of a
second clustering (loaded and packed too) against the first. A calibration
line before and after tells how loaded the machine was: the time of a fixed
busy loop, and how much more two side by side do than one (2.00 on a quiet
two-core machine).
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


BUSY = "import time; t = time.perf_counter(); sum(range(30_000_000)); print(time.perf_counter() - t)"


def calibration():
    """How loaded the machine is: one busy process, then two side by side."""
    def busy(count):
        procs = [subprocess.Popen([sys.executable, "-c", BUSY], stdout=subprocess.PIPE, text=True)
                 for _ in range(count)]
        return max(float(p.communicate()[0]) for p in procs)
    one = busy(1)
    two = busy(2)
    return (f"calibration: one busy process {one:.2f} s; two side by side do "
            f"{2 * one / two:.2f}x the work of one")


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
    parser.add_argument("--module-only", action="store_true",
                        help="run the module on 2 threads alone (for inputs the twin cannot hold)")
    args = parser.parse_args()
    common = [args.graph, args.clustering]
    common += [] if args.cpm is None else ["--cpm", str(args.cpm)]
    common += [] if args.other is None else ["--other", args.other]

    print(calibration())
    if args.module_only:
        two = run("quelmar_job.py", common + ["--threads", "2"])
        for phase, seconds in two["times"].items():
            print(f"{phase:<12}{seconds:>11.3f}s")
        print(f"whole job   {sum(two['times'].values()):>11.3f}s, "
              f"peak memory {two['peak_rss_bytes'] / 1024 ** 2:.0f} MiB")
        print(calibration())
        return 0
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
    print(f"size comparison, module on 2 threads vs numpy: "
          f"{two['times'].get('size_diff', 0.0) / max(twin['times'].get('size_diff', 0.0), 1e-9):.2f}"
          f" of its time")
    print(calibration())
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
