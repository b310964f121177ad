#include "src/utils/snapshot_reader.h"

#include <algorithm>
#include <utility>

#include "src/utils/keyed_hash.h"
#include "src/utils/lz4_frame_reader.h"
#include "src/utils/mapped_vector.h"

namespace quelmar::utils {
namespace {

using namespace snapshot_errors;

// The decoding state: the frame, and the first broken invariant if any.
class Decoder {
public:
    explicit Decoder(Lz4FrameReader& frame) : frame_(frame) {}

    bool value(std::uint64_t& out) {
        if (frame_.read_u64(out)) [[likely]]
            return true;
        frame_failed_ = true;
        return false;
    }
    bool reject(std::string_view why) {
        invalid_ = why;
        return false;
    }

    bool frame_failed() const { return frame_failed_; }
    std::string_view invalid() const { return invalid_; }

private:
    Lz4FrameReader& frame_;
    bool frame_failed_ = false;
    std::string_view invalid_;
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
bool read_name_set(Decoder& in, NameSet& name_set) {
    std::uint64_t next_id, map_count;
    if (!in.value(next_id)) return false;
    if (next_id > kMaxNodes) return in.reject(kTooManyNodes);
    if (!in.value(map_count)) return false;
    if (map_count < next_id) return in.reject(kMapCount);

    struct Pair {
        NodeName name;
        std::uint64_t id;
    };
    MappedVector<Pair> pairs;
    for (std::uint64_t i = 0; i < map_count; ++i) {
        Pair pair;
        if (!in.value(pair.name) || !in.value(pair.id)) return false;
        if (pair.id >= next_id) return in.reject(kMapIdOutOfRange);
        pairs.push_back(pair);
    }

    std::uint64_t name_count;
    if (!in.value(name_count)) return false;
    if (name_count != next_id) return in.reject(kNameCount);
    std::vector<NodeName> id_to_name;
    id_to_name.reserve(name_count);
    for (std::uint64_t i = 0; i < name_count; ++i) {
        std::uint64_t name;
        if (!in.value(name)) return false;
        id_to_name.push_back(name);
    }
    auto built = NameSet::from_id_order(std::move(id_to_name));
    if (!built) return in.reject(kDuplicateName);
    const NameSet& names = *built;

    // Walking the pairs backwards meets each name's last pair first. A pair
    // that agrees with the array settles its id; one that disagrees is fine
    // only when a later pair of the same name already settled it.
    std::vector<bool> settled(name_count, false);
    std::uint64_t settled_count = 0;
    for (std::size_t i = pairs.size(); i-- > 0;) {
        const Pair& pair = pairs[i];
        if (names.id_to_name()[pair.id] == pair.name) {
            if (!settled[pair.id]) {
                settled[pair.id] = true;
                ++settled_count;
            }
            continue;
        }
        auto true_id = names.retrieve(pair.name);
        if (!true_id || !settled[*true_id]) return in.reject(kMapDisagrees);
    }
    if (settled_count != name_count) return in.reject(kMapDisagrees);
    pairs = MappedVector<Pair>();
    name_set = std::move(*built);
    return true;
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

bool read_nodes(Decoder& in, GraphParts& parts) {
    std::uint64_t node_count;
    if (!in.value(node_count)) return false;
    if (node_count != parts.name_set.next_id()) return in.reject(kNodeCount);

    auto& offsets = parts.offsets;
    // The neighbour count is only known at the end; the array grows with the
    // ids that arrive, by remapping rather than copying.
    auto& neighbours = parts.neighbours;
    offsets.reserve(node_count + 1);
    SymmetryBalance symmetry;
    for (std::uint64_t u = 0; u < node_count; ++u) {
        std::uint64_t id, degree;
        if (!in.value(id)) return false;
        if (id != u) return in.reject(kNodeIdMismatch);
        if (!in.value(degree)) return false;
        if (degree > node_count) return in.reject(kDegreeTooLarge);
        std::uint64_t previous = 0;
        for (std::uint64_t j = 0; j < degree; ++j) {
            std::uint64_t v;
            if (!in.value(v)) return false;
            if (v >= node_count) return in.reject(kNeighbourOutOfRange);
            if (j > 0 && v <= previous) return in.reject(kNeighboursUnsorted);
            previous = v;
            symmetry.add(static_cast<NodeId>(u), static_cast<NodeId>(v));
            neighbours.push_back(static_cast<NodeId>(v));
        }
        offsets.push_back(neighbours.size());
    }
    neighbours.resize(neighbours.size());  // trims the doubling's spare room

    if (!in.value(parts.m_cache)) return false;
    if (parts.m_cache != neighbours.size() / 2) return in.reject(kEdgeCount);
    if (!symmetry.balanced()) return in.reject(kAsymmetric);
    return true;
}

}  // namespace

runtime::Result<GraphParts> read_compressed_bincode(ByteSource& source) {
    auto created = Lz4FrameReader::create(source);
    if (!created) return std::move(created).error();
    Lz4FrameReader& frame = created.value();

    Decoder in(frame);
    GraphParts parts;
    const bool complete = read_name_set(in, parts.name_set) && read_nodes(in, parts);
    if (in.frame_failed()) return frame.take_error();
    if (!complete) parts = GraphParts();
    // A damaged frame explains broken content better than the content does.
    if (!frame.drain()) return frame.take_error();
    if (!complete) return runtime::Error(std::string(in.invalid()));
    return parts;
}

runtime::Result<GraphParts> read_compressed_bincode(const std::string& path, TaskMonitor& monitor) {
    auto file = FileSource::open(path, monitor);
    if (!file) return std::move(file).error();
    auto parts = read_compressed_bincode(file.value());
    // The read that was stopped surfaces wrapped as an input error.
    if (monitor.stopped()) return runtime::Error(std::string(TaskMonitor::kInterrupted));
    return parts;
}

}  // namespace quelmar::utils
