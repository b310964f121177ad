#pragma once
// Triangle listing over a LocalGraph, each triangle exactly once. Every edge is
// oriented from the end of lower (degree, id) to the higher one; a triangle is
// found from its lowest node u as u -> v -> x with u -> x. Each node keeps at
// most sqrt(2m) out-neighbours, so the listing costs O(m sqrt(m)) whatever the
// degree spread. Oriented edges are numbered (their position in the oriented
// lists), so callers can count triangles per edge. Worker scratch: reusable
// across clusters.

#include <cstdint>
#include <stop_token>
#include <vector>

#include "src/measures/internal/local_graph.h"

namespace quelmar::measures::internal {

class TriangleLister {
public:
    // Orients `graph`'s edges; they are numbered 0 .. edge_count() - 1.
    void orient(const LocalGraph& graph);

    std::uint64_t edge_count() const noexcept { return heads_.size(); }
    // The oriented edge `e` runs from tail(e) to head(e).
    std::uint32_t head(std::uint64_t e) const noexcept { return heads_[e]; }
    std::uint32_t tail(std::uint64_t e) const noexcept { return tails_[e]; }

    // Calls found(u, v, x, uv, vx, ux) for every triangle, with the edges
    // between its nodes. False when `stop` was requested before the end.
    template <class Found>
    bool for_each(const std::stop_token& stop, Found&& found) {
        const std::uint32_t n = static_cast<std::uint32_t>(out_offsets_.size() - 1);
        mark_.assign(n, 0);
        std::uint64_t work = 0;
        for (std::uint32_t u = 0; u < n; ++u) {
            const std::uint64_t begin = out_offsets_[u], end = out_offsets_[u + 1];
            for (std::uint64_t e = begin; e < end; ++e) mark_[heads_[e]] = e + 1;
            for (std::uint64_t uv = begin; uv < end; ++uv) {
                const std::uint32_t v = heads_[uv];
                const std::uint64_t v_end = out_offsets_[v + 1];
                for (std::uint64_t vx = out_offsets_[v]; vx < v_end; ++vx) {
                    const std::uint64_t ux = mark_[heads_[vx]];
                    if (ux != 0) found(u, v, heads_[vx], uv, vx, ux - 1);
                }
                work += v_end - out_offsets_[v];
            }
            for (std::uint64_t e = begin; e < end; ++e) mark_[heads_[e]] = 0;
            if (work >= kStopCheckWork) {
                work = 0;
                if (stop.stop_requested()) return false;
            }
        }
        return true;
    }

private:
    static constexpr std::uint64_t kStopCheckWork = std::uint64_t{1} << 18;
    std::vector<std::uint64_t> out_offsets_;
    std::vector<std::uint32_t> heads_;
    std::vector<std::uint32_t> tails_;
    std::vector<std::uint64_t> mark_;
};

}  // namespace quelmar::measures::internal
