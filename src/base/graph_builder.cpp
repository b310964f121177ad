#include "src/base/graph_builder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>

#include "runtime/cache_line.h"
#include "runtime/parallel.h"
#include "runtime/prefetch.h"
#include "src/base/lookahead.h"

namespace quelmar::base {
namespace {

// Positions of a round fit in 31 bits.
constexpr std::size_t kMaxRoundPositions = std::size_t{1} << 30;

// Pairs are laid out in parts of this many, each part writing its own
// stretch of every bucket; parts are released as they are laid out.
constexpr std::size_t kPartPairs = std::size_t{1} << 18;

// Buckets are runs of 2^shift consecutive node ids whose lists hold about
// kBucketEntries entries together: small enough to stay in cache while they
// are filled, and few enough to fill all at once, one stream each. Past a
// few thousand streams the layout misses the cache on nearly every write,
// so large graphs get larger buckets instead. At 102.7M lines 2,048 buckets
// (of about 90K entries) filled 5% faster than 1,024 for the same layout
// time; 4,096 made the layout 25% slower.
constexpr std::uint64_t kBucketEntries = std::uint64_t{1} << 16;
constexpr std::uint64_t kMaxBuckets = 2048;

// Widest digit of the radix sort by other node: 4096 counters stay in the
// first-level cache.
constexpr int kMaxDigitBits = 12;

// Buckets finished between two checkpoints.
constexpr std::uint64_t kBucketsPerStep = 64;

// Calls visit(from, to) for every line of `line_ends` (from and to
// alternately).
template <class Visit>
void for_each_pair(std::span<const utils::NodeId> line_ends, Visit&& visit) {
    for (std::size_t k = 0; k + 1 < line_ends.size(); k += 2) {
        runtime::prefetch_ahead(&line_ends[k]);
        visit(line_ends[k], line_ends[k + 1]);
    }
}

int bucket_shift(std::uint64_t node_count, std::uint64_t entries) {
    int shift = 0;
    while (shift < 32 && (std::uint64_t{2} << shift) * entries <= kBucketEntries * node_count) {
        ++shift;
    }
    while (shift < 32 && (node_count >> shift) > kMaxBuckets) ++shift;
    return shift;
}

// The layout's record of one edge end, in its owner's bucket: the owner and
// the other end. Wide ends hold both ids whole. Narrow ends hold the owner
// as its offset in a bucket of at most 2^16 ids and the other id in two
// halves: 6 bytes instead of 8. Packed ends hold the other id in three
// bytes, for graphs of at most 2^24 nodes: 5 bytes. The laid-out ends are
// the largest array of the build while they last, repeated lines included,
// and they set the peak of building from an array held by the caller.
struct WideEnd {
    utils::NodeId owner;
    utils::NodeId other;

    WideEnd() = default;
    WideEnd(utils::NodeId owner, utils::NodeId other, std::uint64_t) : owner(owner), other(other) {}
    utils::NodeId owner_in(std::uint64_t) const { return owner; }
    utils::NodeId other_id() const { return other; }
};

// The high part of the other id is a `High`: 16 bits (narrow), 8 (packed).
template <class High>
struct [[gnu::packed]] OffsetEnd {
    std::uint16_t owner_offset;
    std::uint16_t other_low;
    High other_high;

    static constexpr int kMaxShift = 16;
    static constexpr int kIdBits = 16 + 8 * static_cast<int>(sizeof(High));
    OffsetEnd() = default;
    OffsetEnd(utils::NodeId owner, utils::NodeId other, std::uint64_t first_node)
        : owner_offset(static_cast<std::uint16_t>(owner - first_node)),
          other_low(static_cast<std::uint16_t>(other)),
          other_high(static_cast<High>(other >> 16)) {}
    utils::NodeId owner_in(std::uint64_t first_node) const {
        return static_cast<utils::NodeId>(first_node + owner_offset);
    }
    utils::NodeId other_id() const {
        return other_low | (static_cast<utils::NodeId>(other_high) << 16);
    }
};
using NarrowEnd = OffsetEnd<std::uint16_t>;
using PackedEnd = OffsetEnd<std::uint8_t>;
static_assert(sizeof(NarrowEnd) == 6 && sizeof(PackedEnd) == 5);

}  // namespace

// Per worker: the buffers of the radix sort of one bucket (the second one
// only when it takes more than one pass).
struct GraphBuilder::SortScratch {
    std::vector<HalfEdge> sorted;
    std::vector<HalfEdge> other;
};

// The buckets of node ids, with where each one's entries start.
class GraphBuilder::Buckets {
public:
    Buckets(const std::vector<std::uint64_t>& offsets)
        : node_count_(offsets.size() - 1),
          shift_(bucket_shift(node_count_, offsets.back())),
          count_(node_count_ == 0 ? 0 : ((node_count_ - 1) >> shift_) + 1) {
        starts_.resize(count_ + 1);
        for (std::uint64_t b = 0; b <= count_; ++b) starts_[b] = offsets[first_node(b)];
    }
    std::uint64_t count() const { return count_; }
    int shift() const { return shift_; }
    std::uint64_t of(utils::NodeId node) const { return node >> shift_; }
    std::uint64_t first_node(std::uint64_t b) const { return std::min(node_count_, b << shift_); }
    // Entries [start(b), start(b + 1)) belong to bucket b.
    std::uint64_t start(std::uint64_t b) const { return starts_[b]; }

private:
    std::uint64_t node_count_;
    int shift_;
    std::uint64_t count_;
    std::vector<std::uint64_t> starts_;
};

bool GraphBuilder::add_lines(std::span<const utils::NodeName> names) {
    for (std::size_t first = 0; first < names.size(); first += kMaxRoundPositions) {
        if (!add_round(names.subspan(first, std::min(names.size() - first, kMaxRoundPositions)))) {
            return false;
        }
    }
    return true;
}

// Parts are resolved in rounds of at most kMaxRoundPositions.
bool GraphBuilder::add_lines(std::span<const NamePart> parts) {
    std::size_t first = 0;
    std::size_t positions = 0;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        if (positions + parts[p].names.size() > kMaxRoundPositions) {
            if (!add_round(parts.subspan(first, p - first), positions)) return false;
            first = p;
            positions = 0;
        }
        positions += parts[p].names.size();
    }
    return add_round(parts.subspan(first), positions);
}

// One round: the lines' names become their ends' ids.
bool GraphBuilder::add_round(std::span<const utils::NodeName> names) {
    const std::size_t first = line_ends_.size();
    line_ends_.resize(first + names.size());
    return names_index_.resolve(names, std::span(line_ends_.data() + first, names.size()),
                                limits_.max_nodes, names_, pool_);
}

bool GraphBuilder::add_round(std::span<const NamePart> parts, std::size_t positions) {
    if (positions == 0) return true;
    const std::size_t first = line_ends_.size();
    line_ends_.resize(first + positions);
    return names_index_.resolve(parts, std::span(line_ends_.data() + first, positions),
                                limits_.max_nodes, names_, pool_);
}

// Recounts degrees (with repeats) from the pairs, for when a tally
// overflowed. Shifted by one so that the prefix sum yields starts. Node ids
// are random with respect to the pair order, so every counter touched is a
// cache miss: they are fetched ahead.
std::vector<std::uint64_t> GraphBuilder::degrees_from_pairs(std::uint64_t node_count) const {
    std::vector<std::uint64_t> offsets(node_count + 1, 0);
    const utils::NodeId* ends = line_ends_.data();
    visit_with_lookahead(
        line_ends_.size() / 2,
        [&](std::size_t i) {
            runtime::prefetch(&offsets[ends[2 * i] + 1]);
            runtime::prefetch(&offsets[ends[2 * i + 1] + 1]);
        },
        [&](std::size_t i) {
            ++offsets[ends[2 * i] + 1];
            if (ends[2 * i + 1] != ends[2 * i]) ++offsets[ends[2 * i + 1] + 1];
        });
    return offsets;
}

// Running degree sums (with repeats): where each node's entries start.
std::vector<std::uint64_t> GraphBuilder::start_offsets() {
    const std::uint64_t node_count = names_.size();
    std::vector<std::uint64_t> offsets;
    if (names_index_.tally_overflowed()) {
        offsets = degrees_from_pairs(node_count);
    } else {
        offsets.assign(node_count + 1, 0);
        names_index_.drain([&](utils::NodeId id, std::uint32_t tally) { offsets[id + 1] = tally; },
                           pool_);
    }
    names_index_.clear();
    std::partial_sum(offsets.begin(), offsets.end(), offsets.begin());
    return offsets;
}

std::size_t GraphBuilder::part_count() const {
    return (line_ends_.size() / 2 + kPartPairs - 1) / kPartPairs;
}

// Scattering both ends of every pair straight into place would hit a random
// cache line per end. Instead, the ends are first laid out by bucket (a few
// thousand streams written in sequence): parts of the pairs are counted per
// bucket, each part gets its own stretch of every bucket, and the parts are
// laid out side by side, released as they are done. False when stopped.
template <class End>
bool GraphBuilder::lay_out_ends(const Buckets& buckets, utils::PageArray<End>& ends,
                                BuildProgress& progress) {
    const std::size_t parts = part_count();
    const std::uint64_t bucket_count = buckets.count();
    // The ends of part p's lines, from and to alternately.
    auto part_ends = [&](std::size_t p) {
        const std::size_t begin = 2 * p * kPartPairs;
        return std::span<const utils::NodeId>(
            line_ends_.data() + begin, std::min(line_ends_.size(), begin + 2 * kPartPairs) - begin);
    };
    // cursor[p * bucket_count + b]: first counts, then where part p writes in b.
    std::vector<std::uint64_t> cursor(parts * bucket_count, 0);
    runtime::parallel_for(pool_, parts, [&](std::size_t p) {
        std::uint64_t* count = cursor.data() + p * bucket_count;
        for_each_pair(part_ends(p), [&](utils::NodeId from, utils::NodeId to) {
            ++count[buckets.of(from)];
            if (to != from) ++count[buckets.of(to)];
        });
    });
    for (std::uint64_t b = 0; b < bucket_count; ++b) {
        std::uint64_t at = buckets.start(b);
        for (std::size_t p = 0; p < parts; ++p) {
            at += std::exchange(cursor[p * bucket_count + b], at);
        }
    }
    const std::size_t step_parts = std::max<std::size_t>(1, runtime::worker_count(pool_));
    for (std::size_t first = 0; first < parts; first += step_parts) {
        const std::size_t last = std::min(parts, first + step_parts);
        runtime::parallel_for(pool_, last - first, [&](std::size_t i) {
            const std::size_t p = first + i;
            std::uint64_t* at = cursor.data() + p * bucket_count;
            const auto lines = part_ends(p);
            for_each_pair(lines, [&](utils::NodeId from, utils::NodeId to) {
                const std::uint64_t b = buckets.of(from);
                ends[at[b]++] = End(from, to, buckets.first_node(b));
                if (to != from) {
                    const std::uint64_t c = buckets.of(to);
                    ends[at[c]++] = End(to, from, buckets.first_node(c));
                }
            });
            utils::release_pages(const_cast<utils::NodeId*>(lines.data()), lines.size_bytes());
        });
        if (!progress.advance(last - first)) return false;
    }
    line_ends_ = {};
    return true;
}

// A stable least-significant-digit radix sort of one bucket's ends by
// their other end, in as few passes as node ids need (two up to 2^24
// nodes); the first pass unpacks the ends. Returns the sorted ends, in one
// of the scratch buffers.
template <class End>
std::span<const GraphBuilder::HalfEdge> GraphBuilder::sort_by_other(std::span<const End> ends,
                                                                    std::uint64_t first_node,
                                                                    SortScratch& scratch) const {
    const int id_bits = std::bit_width(std::max<std::uint64_t>(names_.size(), 2) - 1);
    const int passes = (id_bits + kMaxDigitBits - 1) / kMaxDigitBits;
    const int digit_bits = (id_bits + passes - 1) / passes;
    const std::uint32_t mask = (std::uint32_t{1} << digit_bits) - 1;
    if (scratch.sorted.size() < ends.size()) scratch.sorted.resize(ends.size());
    if (passes > 1 && scratch.other.size() < ends.size()) scratch.other.resize(ends.size());
    HalfEdge* from = scratch.other.data();
    HalfEdge* to = scratch.sorted.data();
    std::array<std::uint64_t, std::size_t{1} << kMaxDigitBits> at;
    auto count_digits = [&](int shift, auto&& other_of, std::size_t size) {
        std::fill_n(at.begin(), mask + 1, 0);
        for (std::size_t k = 0; k < size; ++k) ++at[(other_of(k) >> shift) & mask];
        std::uint64_t start = 0;
        for (std::uint32_t d = 0; d <= mask; ++d) start += std::exchange(at[d], start);
    };
    count_digits(
        0,
        [&](std::size_t k) {
            runtime::prefetch_ahead(&ends[k]);
            return ends[k].other_id();
        },
        ends.size());
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const utils::NodeId other = ends[k].other_id();
        to[at[other & mask]++] = {ends[k].owner_in(first_node), other};
    }
    for (int pass = 1; pass < passes; ++pass) {
        std::swap(from, to);
        const int shift = pass * digit_bits;
        count_digits(
            shift, [&](std::size_t k) { return from[k].other; }, ends.size());
        for (std::size_t k = 0; k < ends.size(); ++k) {
            to[at[(from[k].other >> shift) & mask]++] = from[k];
        }
    }
    return {to, ends.size()};
}

// Per bucket, side by side: order the bucket's ends by other node, then
// scatter them by owner (offsets[u] serves as u's write cursor and ends as
// u's end), so that every list comes out sorted; then drop repeats,
// compacting towards the bucket's front. offsets[u] is read as u's old end
// before it is overwritten with u's new start. Returns the entries kept.
template <class End>
std::uint64_t GraphBuilder::fill_bucket(const Buckets& buckets, std::uint64_t b,
                                        utils::PageArray<End>& ends, SortScratch& scratch,
                                        utils::GraphParts& parts) const {
    auto& offsets = parts.offsets;
    utils::NodeId* const neighbours = parts.neighbours.data();
    const std::uint64_t first_end = buckets.start(b);
    const std::uint64_t last_end = buckets.start(b + 1);
    const auto sorted =
        sort_by_other(std::span<const End>(ends.data() + first_end, last_end - first_end),
                      buckets.first_node(b), scratch);
    for (const HalfEdge end : sorted) neighbours[offsets[end.owner]++] = end.other;
    ends.release(first_end, last_end - first_end);
    std::uint64_t begin = first_end;
    std::uint64_t write = first_end;
    for (std::uint64_t u = buckets.first_node(b); u < buckets.first_node(b + 1); ++u) {
        const std::uint64_t end = offsets[u];
        offsets[u] = write;
        if (begin != end) {
            utils::NodeId previous = neighbours[begin];
            neighbours[write++] = previous;
            for (std::uint64_t k = begin + 1; k < end; ++k) {
                if (neighbours[k] != previous) neighbours[write++] = previous = neighbours[k];
            }
        }
        begin = end;
    }
    return write - first_end;
}

// Fills the buckets side by side, a step at a time, noting the entries each
// keeps. False when stopped.
template <class End>
bool GraphBuilder::fill_buckets(const Buckets& buckets, utils::PageArray<End>& ends,
                                utils::GraphParts& parts, std::vector<std::uint64_t>& kept,
                                BuildProgress& progress) {
    const std::uint64_t bucket_count = buckets.count();
    parts.neighbours.resize(buckets.start(bucket_count));
    kept.assign(bucket_count, 0);
    std::vector<runtime::OwnLine<SortScratch>> scratch(runtime::worker_count(pool_));
    for (std::uint64_t first = 0; first < bucket_count; first += kBucketsPerStep) {
        const std::uint64_t last = std::min(bucket_count, first + kBucketsPerStep);
        runtime::parallel_for_worker(pool_, last - first, [&](std::size_t i, std::size_t worker) {
            kept[first + i] = fill_bucket(buckets, first + i, ends, scratch[worker].value, parts);
        });
        if (!progress.advance(last - first)) return false;
    }
    scratch = {};
    ends.reset();
    return true;
}

template <class End>
bool GraphBuilder::lay_out_and_fill(const Buckets& buckets, utils::GraphParts& parts,
                                    std::vector<std::uint64_t>& kept, BuildProgress& progress) {
    utils::PageArray<End> ends(parts.offsets.back());
    return lay_out_ends(buckets, ends, progress) &&
           fill_buckets(buckets, ends, parts, kept, progress);
}

// Moves every bucket's kept entries up against the previous bucket's.
void GraphBuilder::close_up(const Buckets& buckets, std::span<const std::uint64_t> kept,
                            utils::GraphParts& parts) const {
    auto& offsets = parts.offsets;
    auto& neighbours = parts.neighbours;
    const std::uint64_t bucket_count = buckets.count();
    std::uint64_t write = 0;
    for (std::uint64_t b = 0; b < bucket_count; ++b) {
        const std::uint64_t gap = buckets.start(b) - write;
        if (gap != 0) {
            std::memmove(neighbours.data() + write, neighbours.data() + buckets.start(b),
                         kept[b] * sizeof(utils::NodeId));
            for (std::uint64_t u = buckets.first_node(b); u < buckets.first_node(b + 1); ++u) {
                offsets[u] -= gap;
            }
        }
        write += kept[b];
    }
    offsets.back() = write;
    // Repeated lines leave room at the end, which goes back to the system.
    neighbours.resize(write);
}

// The NameSet of the lines' names, filled on the pool while on_caller()
// runs on the caller's thread, then the lone names it lacks with the next
// ids, in a table sized for both. Names of the lines are distinct by
// construction.
utils::NameSet GraphBuilder::name_set_with_lone_names(const std::function<void()>& on_caller) {
    utils::NameSet names = std::move(
        *utils::NameSet::from_id_order(std::move(names_), lone_names_.size(), pool_, on_caller));
    for (const utils::NodeName name : lone_names_) names.request(name);
    return names;
}

Graph GraphBuilder::into_permanent() && {
    return std::move(std::move(*this).into_permanent(utils::TaskMonitor::unwatched())).value();
}

runtime::Result<Graph> GraphBuilder::into_permanent(utils::TaskMonitor& monitor) && {
    utils::GraphParts parts;
    parts.offsets = start_offsets();
    const Buckets buckets(parts.offsets);
    BuildProgress progress{monitor, 0, part_count() + buckets.count()};
    std::vector<std::uint64_t> kept;
    const bool narrow = buckets.shift() <= std::min(NarrowEnd::kMaxShift, limits_.max_narrow_shift);
    const int packed_bits = std::min(PackedEnd::kIdBits, limits_.max_packed_id_bits);
    const bool packed = narrow && names_.size() <= (std::uint64_t{1} << packed_bits);
    const bool done = packed   ? lay_out_and_fill<PackedEnd>(buckets, parts, kept, progress)
                      : narrow ? lay_out_and_fill<NarrowEnd>(buckets, parts, kept, progress)
                               : lay_out_and_fill<WideEnd>(buckets, parts, kept, progress);
    line_ends_ = {};
    if (!done) return runtime::Error::interrupted();
    // The NameSet's map is built on the pool while the caller closes the
    // buckets up: with the ends gone, it no longer raises the peak.
    parts.name_set = name_set_with_lone_names([&] { close_up(buckets, kept, parts); });
    const std::uint64_t node_count = parts.name_set.next_id();
    if (node_count > limits_.max_nodes) {
        return runtime::Error(runtime::ErrorKind::kLimit, std::string(kTooManyNodes));
    }
    // Lone nodes: the last offset repeated.
    const std::uint64_t entries = parts.offsets.back();
    parts.offsets.resize(node_count + 1, entries);
    parts.m_cache = parts.offsets.back() / 2;
    return Graph(std::move(parts));
}

}  // namespace quelmar::base
