// Clustering::from_memberships and from_membership_rows: the memberships are
// cut into pieces whose nodes
// are looked up side by side on the pool, a few pieces per worker at a time;
// the caller hands the pieces to the builder in order, so that the
// unknown-node rule sees memberships in input order.

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/cache_line.h"
#include "runtime/parallel.h"
#include "src/base/clustering.h"
#include "src/base/lookahead.h"
#include "src/base/membership_builder.h"

namespace quelmar::base {
namespace {

constexpr std::size_t kPieceMemberships = std::size_t{1} << 16;
// Pieces per worker in one step: enough to balance, few enough that the
// step's scratch stays small.
constexpr std::size_t kPiecesPerWorker = 4;

// Membership i is (nodes[i * stride], clusters[i * stride]).
struct Columns {
    const utils::NodeName* nodes;
    const ClusterId* clusters;
    std::size_t stride;
    std::size_t count;

    utils::NodeName node(std::size_t i) const { return nodes[i * stride]; }
    ClusterId cluster(std::size_t i) const { return clusters[i * stride]; }
};

// The known members of one piece in order, grouped in runs, and the
// positions of its memberships naming unknown nodes. Reused piece after
// piece; readers side by side in an array are written by different workers.
class alignas(runtime::kCacheLine) PieceReader {
public:
    // Memberships [first, first + size).
    void read(const Columns& given, std::uint64_t first, std::size_t size,
              const utils::NameSet& names) {
        members_.clear();
        runs_.clear();
        unknown_.clear();
        visit_with_lookahead(
            size, [&](std::size_t i) { names.prefetch(given.node(first + i)); },
            [&](std::size_t i) {
                const ClusterId cluster = given.cluster(first + i);
                if (const auto id = names.retrieve(given.node(first + i))) {
                    if (runs_.empty() || runs_.back().cluster != cluster) {
                        runs_.push_back({cluster, members_.size(), members_.size()});
                    }
                    members_.push_back(static_cast<utils::NodeId>(*id));
                    ++runs_.back().end;
                } else {
                    unknown_.push_back(first + i);
                }
            });
    }

    const std::vector<utils::NodeId>& members() const { return members_; }
    const std::vector<MemberRun>& runs() const { return runs_; }
    const std::vector<std::uint64_t>& unknown() const { return unknown_; }

private:
    std::vector<utils::NodeId> members_;
    std::vector<MemberRun> runs_;
    std::vector<std::uint64_t> unknown_;
};

runtime::Result<Clustering> load(const Graph& graph, const Columns& given,
                                 const ClusteringOptions& options) {
    const LoadPool pool(options.pool);
    const utils::NameSet& names = graph.name_set();
    const std::size_t pieces = (given.count + kPieceMemberships - 1) / kPieceMemberships;
    const std::size_t step = runtime::worker_count(pool.get()) * kPiecesPerWorker;
    std::vector<PieceReader> readers(std::min(step, pieces));
    MembershipBuilder builder(options.strict);
    builder.reserve(given.count);
    for (std::size_t first = 0; first < pieces; first += step) {
        const std::size_t last = std::min(pieces, first + step);
        runtime::parallel_for(pool.get(), last - first, [&](std::size_t i) {
            const std::size_t begin = (first + i) * kPieceMemberships;
            readers[i].read(given, begin, std::min(kPieceMemberships, given.count - begin), names);
        });
        for (std::size_t i = 0; i < last - first; ++i) {
            for (const std::uint64_t at : readers[i].unknown()) {
                auto skipped = builder.skip_unknown(given.cluster(at),
                                                    [&] { return std::to_string(given.node(at)); });
                if (!skipped) return std::move(skipped).error();
            }
            builder.append(readers[i].members(), readers[i].runs());
        }
    }
    return std::move(builder).finish(pool.get());
}

}  // namespace

runtime::Result<Clustering> Clustering::from_memberships(const Graph& graph,
                                                         std::span<const utils::NodeName> nodes,
                                                         std::span<const ClusterId> clusters,
                                                         const ClusteringOptions& options) {
    return load(graph, {nodes.data(), clusters.data(), 1, std::min(nodes.size(), clusters.size())},
                options);
}

runtime::Result<Clustering> Clustering::from_membership_rows(const Graph& graph,
                                                             std::span<const std::uint64_t> rows,
                                                             const ClusteringOptions& options) {
    const std::size_t count = rows.size() / 2;
    return load(graph, {rows.data(), count ? rows.data() + 1 : nullptr, 2, count}, options);
}

}  // namespace quelmar::base
