#include "utils/snapshot_reader.h"

#include <algorithm>
#include <utility>

#include "utils/lz4_frame_reader.h"

namespace quelmar {
namespace {

using namespace snapshot_errors;

// Stated counts only cap a reservation; memory beyond this follows the data.
constexpr std::uint64_t kFirstReservation = 4096;

std::size_t first_reservation(std::uint64_t stated_count) {
    return static_cast<std::size_t>(std::min(stated_count, kFirstReservation));
}

// Appends `value`, growing geometrically but never past `stated_count`
// elements, so an honest count leaves no spare capacity.
template <class T>
void push_within(std::vector<T>& values, T value, std::uint64_t stated_count) {
    if (values.size() == values.capacity()) {
        const std::uint64_t doubled = std::max<std::uint64_t>(kFirstReservation, values.capacity() * 2);
        values.reserve(static_cast<std::size_t>(std::min(stated_count, doubled)));
    }
    values.push_back(value);
}

// The decoding state: the frame, and the first broken invariant if any.
class Decoder {
public:
    explicit Decoder(Lz4FrameReader& frame) : frame_(frame) {}

    bool value(std::uint64_t& out) {
        if (frame_.read_u64(out)) [[likely]] return true;
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

bool read_name_set(Decoder& in, NameSet& name_set) {
    std::uint64_t next_id, map_count;
    if (!in.value(next_id)) return false;
    if (next_id > kMaxNodes) return in.reject(kTooManyNodes);
    if (!in.value(map_count)) return false;
    if (map_count != next_id) return in.reject(kMapCount);

    NameSet::Map name_to_id;
    name_to_id.reserve(first_reservation(map_count));
    for (std::uint64_t i = 0; i < map_count; ++i) {
        std::uint64_t name, id;
        if (!in.value(name) || !in.value(id)) return false;
        if (id >= next_id) return in.reject(kMapIdOutOfRange);
        if (!name_to_id.try_emplace(name, id).second) return in.reject(kDuplicateName);
    }

    std::uint64_t name_count;
    if (!in.value(name_count)) return false;
    if (name_count != next_id) return in.reject(kNameCount);
    std::vector<NodeName> id_to_name;
    id_to_name.reserve(first_reservation(name_count));
    for (std::uint64_t i = 0; i < name_count; ++i) {
        std::uint64_t name;
        if (!in.value(name)) return false;
        push_within(id_to_name, name, name_count);
    }

    // The map has next_id distinct names with ids below next_id; if each sends
    // its name to the array entry of that id, the two are inverse bijections.
    for (const auto& [name, id] : name_to_id) {
        if (id_to_name[id] != name) return in.reject(kMapDisagrees);
    }
    name_set = NameSet(std::move(name_to_id), std::move(id_to_name));
    return true;
}

bool read_nodes(Decoder& in, GraphParts& parts) {
    std::uint64_t node_count;
    if (!in.value(node_count)) return false;
    if (node_count != parts.name_set.next_id()) return in.reject(kNodeCount);

    auto& offsets = parts.offsets;
    auto& neighbours = parts.neighbours;
    offsets.reserve(first_reservation(node_count + 1));
    neighbours.reserve(kFirstReservation);
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
            neighbours.push_back(static_cast<NodeId>(v));
        }
        push_within(offsets, std::uint64_t{neighbours.size()}, node_count + 1);
    }

    if (!in.value(parts.m_cache)) return false;
    if (parts.m_cache != neighbours.size() / 2) return in.reject(kEdgeCount);
    return true;
}

// Lists are known to be strictly ascending. Walking nodes u in ascending
// order, the entries equal to u in each neighbour's list are met in ascending
// order too, so one cursor per node pairs every entry (u, v) with the next
// unmatched entry of v's list, which must be u. Every entry is matched once;
// since the matched entries are distinct and as many as all entries, every
// cursor ends at its list's end.
bool neighbours_symmetric(const GraphParts& parts) {
    const auto& offsets = parts.offsets;
    const auto& neighbours = parts.neighbours;
    const std::size_t node_count = offsets.size() - 1;
    std::vector<std::uint64_t> cursor(offsets.begin(), offsets.end() - 1);
    for (std::size_t u = 0; u < node_count; ++u) {
        for (std::uint64_t k = offsets[u]; k < offsets[u + 1]; ++k) {
            const NodeId v = neighbours[k];
            const std::uint64_t at = cursor[v];
            if (at == offsets[v + 1] || neighbours[at] != u) return false;
            cursor[v] = at + 1;
        }
    }
    return true;
}

}  // namespace

Result<GraphParts> read_compressed_bincode(ByteSource& source) {
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
    if (!complete) return Error(std::string(in.invalid()));
    if (!neighbours_symmetric(parts)) return Error(std::string(kAsymmetric));
    return parts;
}

Result<GraphParts> read_compressed_bincode(const std::string& path) {
    auto file = FileSource::open(path);
    if (!file) return std::move(file).error();
    return read_compressed_bincode(file.value());
}

}  // namespace quelmar
