#include "src/utils/snapshot_reader.h"

#include <algorithm>
#include <optional>
#include <span>
#include <utility>

#include "src/utils/keyed_hash.h"
#include "src/utils/lz4_frame_reader.h"
#include "src/utils/mapped_vector.h"

namespace quelmar::utils {
namespace {

using namespace snapshot_errors;

// Decoding stops at the first failure of the frame, an error, or at the
// first invariant the content breaks, a verdict: the text naming it (empty
// while the content holds them all). The two stay apart because a damaged
// frame explains broken content better than the content does.
using Verdict = std::string_view;
constexpr Verdict kSound;
using Decoded = runtime::Result<Verdict>;

// Whether decoding stops here: the frame failed or the content is broken.
bool stops(const Decoded& part) { return !part || !part->empty(); }

struct NamePair {
    NodeName name;
    std::uint64_t id;
};

// A stated count is trusted for reserving memory only once data already read
// backs it: N is a bare claim, so the map's pairs grow with what arrives (by
// remapping, never by copying); K and n must equal next_id, and the names and
// offsets are reserved once N pairs have backed that size.
//
// The map's pairs are checked against the name array instead of being
// inserted as they come: the map is then built once, at its exact size, from
// the array. A name may come more than once, as in any map written entry by
// entry; its last pair is the one that counts, as if inserted in order. The
// resulting map must be exactly the inverse of the array.
Decoded read_map_pairs(Lz4FrameReader& in, std::uint64_t next_id, MappedVector<NamePair>& pairs) {
    const auto count = in.read_u64();
    if (!count) return count.error();
    if (*count < next_id) return kMapCount;
    for (std::uint64_t i = 0; i < *count; ++i) {
        const auto name = in.read_u64();
        if (!name) return name.error();
        const auto id = in.read_u64();
        if (!id) return id.error();
        if (*id >= next_id) return kMapIdOutOfRange;
        pairs.push_back({*name, *id});
    }
    return kSound;
}

Decoded read_id_order(Lz4FrameReader& in, std::uint64_t next_id, std::optional<NameSet>& names,
                      runtime::WorkerPool* pool) {
    const auto count = in.read_u64();
    if (!count) return count.error();
    if (*count != next_id) return kNameCount;
    std::vector<NodeName> id_to_name;
    id_to_name.reserve(*count);
    for (std::uint64_t i = 0; i < *count; ++i) {
        const auto name = in.read_u64();
        if (!name) return name.error();
        id_to_name.push_back(*name);
    }
    names = NameSet::from_id_order(std::move(id_to_name), 0, pool);
    if (!names) return kDuplicateName;
    return kSound;
}

// Walking the pairs backwards meets each name's last pair first. A pair that
// agrees with the array settles its id; one that disagrees is fine only when
// a later pair of the same name already settled it.
Verdict check_map_agrees(std::span<const NamePair> pairs, const NameSet& names) {
    std::vector<bool> settled(names.next_id(), false);
    std::uint64_t settled_count = 0;
    for (std::size_t i = pairs.size(); i-- > 0;) {
        const NamePair& pair = pairs[i];
        if (names.id_to_name()[pair.id] == pair.name) {
            if (!settled[pair.id]) {
                settled[pair.id] = true;
                ++settled_count;
            }
            continue;
        }
        auto true_id = names.retrieve(pair.name);
        if (!true_id || !settled[*true_id]) return kMapDisagrees;
    }
    if (settled_count != names.next_id()) return kMapDisagrees;
    return kSound;
}

Decoded read_name_set(Lz4FrameReader& in, NameSet& name_set, runtime::WorkerPool* pool) {
    const auto next_id = in.read_u64();
    if (!next_id) return next_id.error();
    if (*next_id > kMaxNodes) return kTooManyNodes;
    MappedVector<NamePair> pairs;
    if (Decoded part = read_map_pairs(in, *next_id, pairs); stops(part)) return part;
    std::optional<NameSet> names;
    if (Decoded part = read_id_order(in, *next_id, names, pool); stops(part)) return part;
    if (Verdict agrees = check_map_agrees(pairs, *names); !agrees.empty()) return agrees;
    name_set = std::move(*names);
    return kSound;
}

// Symmetry means the set of entries (u, v) equals the set of (v, u), so over
// all entries the sums of f(u, v) and of f(v, u) agree, for any function f.
// With f a keyed pseudo-random function, sets that differ give equal sums
// only with probability about 2^-64; the key is drawn once per process, so no
// file can be made to fool it. An exact check pairs every entry with its
// mirror by random access into the neighbour array, which cost more than all
// the rest of a load; this one rides along with reading. Memory safety never
// rests on symmetry: every id is range-checked as it is read.
class SymmetryBalance {
public:
    SymmetryBalance() : key_(process_key()) {}

    void add(NodeId u, NodeId v) { balance_ += mix(u, v) - mix(v, u); }
    bool balanced() const { return balance_ == 0; }

private:
    std::uint64_t mix(NodeId u, NodeId v) const {
        return mix_bits(((std::uint64_t{u} << 32) | v) + key_);
    }

    std::uint64_t key_;
    std::uint64_t balance_ = 0;
};

// Node record u: its id, its degree, then its neighbour ids.
Decoded read_node(Lz4FrameReader& in, std::uint64_t u, std::uint64_t node_count,
                  SymmetryBalance& symmetry, NeighbourArray& neighbours) {
    const auto id = in.read_u64();
    if (!id) return id.error();
    if (*id != u) return kNodeIdMismatch;
    const auto degree = in.read_u64();
    if (!degree) return degree.error();
    if (*degree > node_count) return kDegreeTooLarge;
    std::uint64_t previous = 0;
    for (std::uint64_t j = 0; j < *degree; ++j) {
        const auto v = in.read_u64();
        if (!v) return v.error();
        if (*v >= node_count) return kNeighbourOutOfRange;
        if (j > 0 && *v <= previous) return kNeighboursUnsorted;
        previous = *v;
        symmetry.add(static_cast<NodeId>(u), static_cast<NodeId>(*v));
        neighbours.push_back(static_cast<NodeId>(*v));
    }
    return kSound;
}

Decoded read_nodes(Lz4FrameReader& in, GraphParts& parts) {
    const auto node_count = in.read_u64();
    if (!node_count) return node_count.error();
    if (*node_count != parts.name_set.next_id()) return kNodeCount;

    // The neighbour count is only known at the end; the array grows with the
    // ids that arrive, by remapping rather than copying.
    NeighbourArray& neighbours = parts.neighbours;
    parts.offsets.reserve(*node_count + 1);
    SymmetryBalance symmetry;
    for (std::uint64_t u = 0; u < *node_count; ++u) {
        Decoded node = read_node(in, u, *node_count, symmetry, neighbours);
        if (stops(node)) return node;
        parts.offsets.push_back(neighbours.size());
    }
    neighbours.resize(neighbours.size());  // trims the doubling's spare room

    const auto m_cache = in.read_u64();
    if (!m_cache) return m_cache.error();
    parts.m_cache = *m_cache;
    if (parts.m_cache != neighbours.size() / 2) return kEdgeCount;
    if (!symmetry.balanced()) return kAsymmetric;
    return kSound;
}

}  // namespace

runtime::Result<GraphParts> read_compressed_bincode(ByteSource& source, runtime::WorkerPool* pool) {
    auto created = Lz4FrameReader::create(source);
    if (!created) return std::move(created).error();
    Lz4FrameReader& frame = *created;

    GraphParts parts;
    Decoded verdict = read_name_set(frame, parts.name_set, pool);
    if (!stops(verdict)) verdict = read_nodes(frame, parts);
    if (!verdict) return std::move(verdict).error();
    const bool sound = verdict->empty();
    if (!sound) parts = GraphParts();
    // A damaged frame explains broken content better than the content does.
    if (auto drained = frame.drain(); !drained) return std::move(drained).error();
    if (!sound) return runtime::Error(std::string(*verdict));
    return parts;
}

runtime::Result<GraphParts> read_compressed_bincode(const std::string& path, TaskMonitor& monitor,
                                                    runtime::WorkerPool* pool) {
    auto file = FileSource::open(path, monitor);
    if (!file) return std::move(file).error();
    auto parts = read_compressed_bincode(file.value(), pool);
    // The read that was stopped surfaces wrapped as an input error.
    if (monitor.stopped()) return runtime::Error::interrupted();
    return parts;
}

}  // namespace quelmar::utils
