#include "base/graph_builder.h"

#include <algorithm>

namespace quelmar {
namespace {

// Small inputs stay small; large ones get 8 MiB chunks.
constexpr std::size_t kFirstChunkPairs = std::size_t{1} << 10;
constexpr std::size_t kLargestChunkPairs = std::size_t{1} << 20;

}  // namespace

void GraphBuilder::add_chunk() {
    std::size_t capacity = kFirstChunkPairs;
    if (!chunks_.empty()) {
        seal_last_chunk();
        capacity = std::min(kLargestChunkPairs, 2 * chunks_.back().capacity);
    }
    chunks_.push_back({std::unique_ptr<EdgePair[]>(new EdgePair[capacity]), capacity, 0});
    next_ = chunks_.back().pairs.get();
    limit_ = next_ + capacity;
}

void GraphBuilder::seal_last_chunk() {
    if (!chunks_.empty()) chunks_.back().size = next_ - chunks_.back().pairs.get();
}

template <class Visit>
void GraphBuilder::consume_pairs(Visit&& visit) {
    for (Chunk& chunk : chunks_) {
        for (const EdgePair* p = chunk.pairs.get(); p != chunk.pairs.get() + chunk.size; ++p) visit(*p);
        chunk.pairs.reset();
    }
    chunks_.clear();
    next_ = limit_ = nullptr;
}

Graph GraphBuilder::into_permanent() && {
    const std::uint64_t node_count = names_.next_id();
    std::vector<std::uint64_t> offsets(node_count + 1, 0);
    seal_last_chunk();

    // Degrees with repeats, shifted by one so the prefix sum yields starts.
    for (const Chunk& chunk : chunks_) {
        for (const EdgePair* p = chunk.pairs.get(); p != chunk.pairs.get() + chunk.size; ++p) {
            ++offsets[p->from + 1];
            if (p->to != p->from) ++offsets[p->to + 1];
        }
    }
    for (std::uint64_t u = 0; u < node_count; ++u) offsets[u + 1] += offsets[u];

    // Scatter: offsets[u] serves as u's write cursor and ends as u's end.
    std::vector<NodeId> neighbours(offsets[node_count]);
    consume_pairs([&](const EdgePair& pair) {
        neighbours[offsets[pair.from]++] = pair.to;
        if (pair.to != pair.from) neighbours[offsets[pair.to]++] = pair.from;
    });

    // Sort and deduplicate each list, compacting towards the front; offsets[u]
    // is read as u's old end before it is overwritten with u's new start.
    std::uint64_t begin = 0;
    std::uint64_t write = 0;
    for (std::uint64_t u = 0; u < node_count; ++u) {
        const std::uint64_t end = offsets[u];
        NodeId* first = neighbours.data() + begin;
        NodeId* last = neighbours.data() + end;
        std::sort(first, last);
        offsets[u] = write;
        if (first != last) {
            NodeId previous = *first;
            neighbours[write++] = previous;
            for (const NodeId* p = first + 1; p != last; ++p) {
                if (*p != previous) neighbours[write++] = previous = *p;
            }
        }
        begin = end;
    }
    offsets[node_count] = write;
    if (write < neighbours.size()) {
        neighbours.resize(write);
        neighbours.shrink_to_fit();
    }

    const std::uint64_t m_cache = write / 2;
    return Graph(std::move(names_), std::move(offsets), std::move(neighbours), m_cache);
}

}  // namespace quelmar
