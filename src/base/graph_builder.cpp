#include "src/base/graph_builder.h"

#include <algorithm>

#include "src/utils/page_memory.h"

namespace quelmar::base {
namespace {

// Small inputs stay small; large ones get 8 MiB chunks.
constexpr std::size_t kFirstChunkPairs = std::size_t{1} << 10;
constexpr std::size_t kLargestChunkPairs = std::size_t{1} << 20;

// Node ids are random with respect to the pair order, so every counter
// touched when recounting degrees is a cache miss; they are prefetched this
// many pairs ahead.
constexpr std::size_t kPrefetchAhead = 16;

}  // namespace

void GraphBuilder::add_chunk() {
    std::size_t capacity = kFirstChunkPairs;
    if (!chunks_.empty()) {
        seal_last_chunk();
        capacity = std::min(kLargestChunkPairs, 2 * chunks_.back().pairs.size());
    }
    chunks_.push_back({utils::PageArray<EdgePair>(capacity), 0});
    next_ = chunks_.back().pairs.data();
    limit_ = next_ + capacity;
}

void GraphBuilder::seal_last_chunk() {
    if (!chunks_.empty()) chunks_.back().size = next_ - chunks_.back().pairs.data();
}

// Recounts degrees (with repeats) from the pairs, for when a tally
// overflowed. Shifted by one so that the prefix sum yields starts.
std::vector<std::uint64_t> GraphBuilder::degrees_from_pairs(std::uint64_t node_count) const {
    std::vector<std::uint64_t> offsets(node_count + 1, 0);
    for (const Chunk& chunk : chunks_) {
        const EdgePair* pairs = chunk.pairs.data();
        for (std::size_t i = 0; i < chunk.size; ++i) {
            if (i + kPrefetchAhead < chunk.size) {
                __builtin_prefetch(&offsets[pairs[i + kPrefetchAhead].from + 1], 1);
                __builtin_prefetch(&offsets[pairs[i + kPrefetchAhead].to + 1], 1);
            }
            ++offsets[pairs[i].from + 1];
            if (pairs[i].to != pairs[i].from) ++offsets[pairs[i].to + 1];
        }
    }
    return offsets;
}

namespace {

struct HalfEdge {
    utils::NodeId owner;
    utils::NodeId other;
};

// Buckets are runs of 2^shift consecutive node ids whose lists hold about
// kBucketEntries entries together: small enough to stay in cache while they
// are filled, and few enough to fill all at once, one stream each.
constexpr std::uint64_t kBucketEntries = std::uint64_t{1} << 16;
constexpr std::uint64_t kMaxBuckets = 4096;

int bucket_shift(std::uint64_t node_count, std::uint64_t entries) {
    int shift = 0;
    while (shift < 32 && (std::uint64_t{2} << shift) * entries <= kBucketEntries * node_count) {
        ++shift;
    }
    while (shift < 32 && (node_count >> shift) > kMaxBuckets) ++shift;
    return shift;
}

}  // namespace

Graph GraphBuilder::into_permanent() && {
    return std::move(std::move(*this).into_permanent(utils::TaskMonitor::unwatched())).value();
}

runtime::Result<Graph> GraphBuilder::into_permanent(utils::TaskMonitor& monitor) && {
    const std::uint64_t node_count = names_.size();
    seal_last_chunk();

    // Degrees with repeats, shifted by one so that the prefix sum yields starts.
    utils::GraphParts parts;
    auto& offsets = parts.offsets;
    if (tallies_overflowed_) {
        offsets = degrees_from_pairs(node_count);
    } else {
        offsets.assign(node_count + 1, 0);
        index_.for_each([&](const NameIndex::Slot& slot) { offsets[slot.id + 1] = slot.tag - 1; });
    }
    index_.clear();
    for (std::uint64_t u = 0; u < node_count; ++u) offsets[u + 1] += offsets[u];
    const std::uint64_t entries = offsets[node_count];

    // Scattering both ends of every pair straight into place would hit a
    // random cache line per end. Instead, the ends are first laid out by
    // bucket, bucket by bucket in the final order (a few thousand streams
    // written in sequence), then each bucket is scattered within its own,
    // cache-sized part of the array. Pair chunks are released as they are
    // laid out, and laid-out ends as their bucket is done.
    const int shift = bucket_shift(node_count, entries);
    const std::uint64_t bucket_count = node_count == 0 ? 0 : ((node_count - 1) >> shift) + 1;
    std::vector<std::uint64_t> bucket_end(bucket_count);
    for (std::uint64_t b = 0; b < bucket_count; ++b) bucket_end[b] = offsets[b << shift];
    utils::PageArray<HalfEdge> ends(entries);
    const std::uint64_t steps = chunks_.size() + bucket_count;
    std::uint64_t step = 0;
    auto proceed = [&] {
        return monitor.checkpoint({utils::TaskProgress::Stage::kBuilding, ++step, steps});
    };
    for (Chunk& chunk : chunks_) {
        const EdgePair* pairs = chunk.pairs.data();
        for (std::size_t i = 0; i < chunk.size; ++i) {
            const EdgePair pair = pairs[i];
            ends[bucket_end[pair.from >> shift]++] = {pair.from, pair.to};
            if (pair.to != pair.from) ends[bucket_end[pair.to >> shift]++] = {pair.to, pair.from};
        }
        chunk.pairs.reset();
        if (!proceed()) break;
    }
    chunks_.clear();
    next_ = limit_ = nullptr;
    if (monitor.stopped()) return runtime::Error(std::string(utils::TaskMonitor::kInterrupted));

    // Per bucket: scatter (offsets[u] serves as u's write cursor and ends as
    // u's end), then sort and deduplicate each list, compacting towards the
    // front; offsets[u] is read as u's old end before it is overwritten with
    // u's new start.
    auto& neighbours = parts.neighbours;
    neighbours.resize(entries);
    std::uint64_t begin = 0;
    std::uint64_t write = 0;
    for (std::uint64_t b = 0; b < bucket_count; ++b) {
        const std::uint64_t first_node = b << shift;
        const std::uint64_t last_node = std::min(node_count, (b + 1) << shift);
        const std::uint64_t first_end = offsets[first_node];
        const std::uint64_t last_end = bucket_end[b];
        for (std::uint64_t k = first_end; k < last_end; ++k) {
            neighbours[offsets[ends[k].owner]++] = ends[k].other;
        }
        ends.release(first_end, last_end - first_end);

        for (std::uint64_t u = first_node; u < last_node; ++u) {
            const std::uint64_t end = offsets[u];
            utils::NodeId* first = neighbours.data() + begin;
            utils::NodeId* last = neighbours.data() + end;
            std::sort(first, last);
            offsets[u] = write;
            if (first != last) {
                utils::NodeId previous = *first;
                neighbours[write++] = previous;
                for (const utils::NodeId* p = first + 1; p != last; ++p) {
                    if (*p != previous) neighbours[write++] = previous = *p;
                }
            }
            begin = end;
        }
        if (!proceed()) return runtime::Error(std::string(utils::TaskMonitor::kInterrupted));
    }
    ends.reset();
    offsets[node_count] = write;
    // Repeated lines leave room at the end, which goes back to the system.
    neighbours.resize(write);

    parts.m_cache = write / 2;
    // Names are distinct by construction.
    parts.name_set = std::move(*utils::NameSet::from_id_order(std::move(names_)));
    return Graph(std::move(parts));
}

}  // namespace quelmar::base
