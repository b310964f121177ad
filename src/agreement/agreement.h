#pragma once
// Agreement between two clusterings, from their contingency (contingency.h),
// each measure exact (no sampling) and independent of the number of workers.
//
// Partitions (every universe node in exactly one effective cluster per side;
// otherwise the measure fails with a message naming an overlapping node and
// two of its clusters). Equal to scikit-learn's on the same label arrays:
//   * nmi: mutual information over a mean of the two entropies (arithmetic
//     by default; geometric, min or max by choice); 1 when neither side
//     splits the universe (one cluster each, or no nodes), 0 when the
//     mutual information is 0.
//   * ari: the adjusted Rand index, from exact pair counts; 1 when no pair
//     is split by one side and joined by the other.
//   * vi: the variation of information H(A|B) + H(B|A), in nats, summed as
//     nonnegative terms per cell (so identical partitions give exactly 0).
// Covers (overlap allowed):
//   * f1: (mean over clusters of A of their best F1 against B + the same
//     from B) / 2, F1 = 2|a ∩ b| / (|a| + |b|). Singletons of the kSingletons
//     policy are clusters like any other. NaN when a side has no cluster.
//   * onmi: the overlapping NMI of McDaid, Greene and Hurley (2011) with max
//     normalisation: I = (H(A) - H(A|B) + H(B) - H(B|A)) / 2 over
//     max(H(A), H(B)), where H(A) sums the binary entropies of the clusters
//     and H(A|B) takes for each cluster of A the least conditional entropy
//     against a cluster of B, counted only where the pair passes the
//     "h(a) + h(d) > h(b) + h(c)" test of the method (else the cluster's own
//     entropy). Same choices and test as the Python toolkit that defines it
//     in the field; see onmi.cpp for how it avoids all pairs of clusters.
//     0 when exactly one side has no cluster, 1 when neither has, NaN when
//     both entropies are 0.
//   * omega: the omega index over all pairs of universe nodes, from the
//     number of clusters each pair shares on each side; see omega_index.cpp.
//     NaN below two nodes.
//
// Long passes (onmi, omega) report to `progress` and fail with
// TaskMonitor::kInterrupted soon after `stop` is requested.

#include <cstdint>
#include <stop_token>
#include <string_view>
#include <vector>

#include "runtime/progress.h"
#include "runtime/result.h"
#include "src/agreement/contingency.h"

namespace quelmar::agreement {

enum class Normalisation { kArithmetic, kGeometric, kMin, kMax };

runtime::Result<double> nmi(const Contingency& table,
                            Normalisation normalisation = Normalisation::kArithmetic);
runtime::Result<double> ari(const Contingency& table);
runtime::Result<double> vi(const Contingency& table);

double f1(const Contingency& table);

// The failure of omega on a contingency made from cells alone.
inline constexpr std::string_view kOmegaNeedsMembers =
    "omega needs the members of the clusters, not only their intersection sizes";

runtime::Result<double> onmi(const Contingency& table, std::stop_token stop = {},
                             runtime::PassProgress& progress = runtime::PassProgress::unwatched());
runtime::Result<double> omega(const Contingency& table, std::stop_token stop = {},
                              runtime::PassProgress& progress = runtime::PassProgress::unwatched());

// The refusal of a partition measure: "<measure> needs a partition, but node
// <name> is in clusters <id> and <id> of the first (second) clustering".
runtime::Error not_a_partition(std::string_view measure, const Contingency& table);

}  // namespace quelmar::agreement
