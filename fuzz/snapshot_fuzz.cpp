// The snapshot reader, its frame decoding and its validation. The low two
// bits of the first byte pick how the rest of the input is used:
//   0     as the file itself (an LZ4 frame or anything else);
//   1, 2  as the decompressed content, which this target wraps in an LZ4 frame
//         whose options (checksums, block size, stored content size, linked
//         blocks) come from the first byte's other bits;
//   3     the same, with bytes after the frame's end mark.
// Whatever the input, the reader must give the same outcome whether the file
// arrives whole or in small pieces, and a graph it accepts must meet every
// invariant the analysis relies on (checked here independently). When this
// target made the frame, a plain decoding of the content decides: a valid
// graph loads exactly as written; broken content fails with an "io error: "
// (content ended early) or "invalid snapshot: " message, never otherwise.

#include <lz4frame.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "src/utils/byte_source.h"
#include "src/utils/snapshot_reader.h"

namespace {

using quelmar::fuzz::check;
using quelmar::fuzz::fail;

constexpr std::uint64_t kMaxNodes = std::uint64_t{1} << 32;

// What the content says, read value by value with no trust in any count.
struct Content {
    bool complete = false;  // every value the counts call for is present
    std::uint64_t next_id = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs;
    std::vector<std::uint64_t> names;
    std::vector<std::uint64_t> record_ids;
    std::vector<std::vector<std::uint64_t>> neighbours;
    std::uint64_t m_cache = 0;
};

class ValueReader {
public:
    explicit ValueReader(std::string_view bytes) : bytes_(bytes) {}
    std::size_t remaining() const { return (bytes_.size() - at_) / 8; }
    bool next(std::uint64_t& value) {
        if (remaining() == 0) return false;
        value = 0;
        for (int i = 7; i >= 0; --i) {
            value = (value << 8) |
                    static_cast<unsigned char>(bytes_[at_ + static_cast<std::size_t>(i)]);
        }
        at_ += 8;
        return true;
    }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

Content decode_content(std::string_view bytes) {
    Content content;
    ValueReader in(bytes);
    std::uint64_t count;
    if (!in.next(content.next_id) || !in.next(count) || count > in.remaining() / 2) return content;
    content.pairs.resize(count);
    for (auto& [name, id] : content.pairs) in.next(name), in.next(id);
    if (!in.next(count) || count > in.remaining()) return content;
    content.names.resize(count);
    for (auto& name : content.names) in.next(name);
    if (!in.next(count) || count > in.remaining() / 2) return content;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t id, degree;
        if (!in.next(id) || !in.next(degree) || degree > in.remaining()) return content;
        content.record_ids.push_back(id);
        std::vector<std::uint64_t>& adjacent = content.neighbours.emplace_back(degree);
        for (auto& v : adjacent) in.next(v);
    }
    content.complete = in.next(content.m_cache);
    return content;
}

bool is_valid_graph(const Content& c) {
    const std::uint64_t n = c.next_id;
    if (n > kMaxNodes || c.names.size() != n || c.neighbours.size() != n) return false;
    // The map as inserted pair by pair (a repeated name keeps its last id)
    // must be exactly the inverse of the name array; every id in range.
    std::map<std::uint64_t, std::uint64_t> map;
    for (const auto& [name, id] : c.pairs) {
        if (id >= n) return false;
        map[name] = id;
    }
    std::map<std::uint64_t, std::uint64_t> inverse;
    for (std::uint64_t id = 0; id < n; ++id) {
        if (!inverse.emplace(c.names[id], id).second) return false;
    }
    if (map != inverse) return false;
    std::set<std::pair<std::uint64_t, std::uint64_t>> arcs;
    std::uint64_t entries = 0;
    for (std::uint64_t u = 0; u < n; ++u) {
        if (c.record_ids[u] != u) return false;
        const auto& adjacent = c.neighbours[u];
        for (std::size_t j = 0; j < adjacent.size(); ++j) {
            if (adjacent[j] >= n || (j > 0 && adjacent[j - 1] >= adjacent[j])) return false;
            arcs.emplace(u, adjacent[j]);
        }
        entries += adjacent.size();
    }
    for (const auto& [u, v] : arcs) {
        if (!arcs.count({v, u})) return false;
    }
    return c.m_cache == entries / 2;
}

// Every invariant of a finished graph, on what the reader produced.
void check_invariants(const quelmar::utils::GraphParts& parts) {
    const auto& offsets = parts.offsets;
    check(!offsets.empty() && offsets.front() == 0, "offsets start at 0");
    const std::uint64_t n = offsets.size() - 1;
    check(n <= kMaxNodes, "more nodes than 32-bit ids can name");
    const quelmar::utils::NameSet& names = parts.name_set;
    check(names.next_id() == n && names.id_to_name().size() == n, "name set size");
    for (std::uint64_t id = 0; id < n; ++id) {
        check(names.retrieve(names.id_to_name()[id]) == id, "name map and name array disagree");
    }
    check(offsets.back() == parts.neighbours.size(), "offsets end at the neighbour count");
    std::set<std::pair<std::uint64_t, std::uint64_t>> arcs;
    for (std::uint64_t u = 0; u < n; ++u) {
        check(offsets[u] <= offsets[u + 1], "offsets ascend");
        for (std::uint64_t p = offsets[u]; p < offsets[u + 1]; ++p) {
            const std::uint64_t v = parts.neighbours[p];
            check(v < n, "neighbour id out of range");
            check(p == offsets[u] || parts.neighbours[p - 1] < v, "neighbours strictly ascend");
            arcs.emplace(u, v);
        }
    }
    for (const auto& [u, v] : arcs) check(arcs.count({v, u}) == 1, "neighbour lists symmetric");
    check(parts.m_cache == parts.neighbours.size() / 2, "m_cache");
}

void check_same_graph(const quelmar::utils::GraphParts& parts, const Content& content) {
    check(parts.name_set.id_to_name() == content.names, "names differ from the content");
    check(parts.m_cache == content.m_cache, "m_cache differs from the content");
    for (std::uint64_t u = 0; u < content.neighbours.size(); ++u) {
        const auto& adjacent = content.neighbours[u];
        check(parts.offsets[u + 1] - parts.offsets[u] == adjacent.size(), "degree differs");
        for (std::size_t j = 0; j < adjacent.size(); ++j) {
            check(parts.neighbours[parts.offsets[u] + j] == adjacent[j], "neighbour differs");
        }
    }
}

std::string make_frame(std::string_view content, std::uint8_t options) {
    LZ4F_preferences_t preferences;
    std::memset(&preferences, 0, sizeof preferences);
    preferences.frameInfo.contentChecksumFlag =
        (options & 0x04) ? LZ4F_contentChecksumEnabled : LZ4F_noContentChecksum;
    preferences.frameInfo.blockChecksumFlag =
        (options & 0x08) ? LZ4F_blockChecksumEnabled : LZ4F_noBlockChecksum;
    preferences.frameInfo.contentSize = (options & 0x10) ? content.size() : 0;
    preferences.frameInfo.blockMode = (options & 0x20) ? LZ4F_blockLinked : LZ4F_blockIndependent;
    preferences.frameInfo.blockSizeID = (options & 0x40) ? LZ4F_max256KB : LZ4F_max64KB;
    std::string frame(LZ4F_compressFrameBound(content.size(), &preferences), '\0');
    const std::size_t written = LZ4F_compressFrame(frame.data(), frame.size(), content.data(),
                                                   content.size(), &preferences);
    if (LZ4F_isError(written)) fail("LZ4F_compressFrame", LZ4F_getErrorName(written));
    frame.resize(written);
    return frame;
}

quelmar::runtime::Result<quelmar::utils::GraphParts> read(std::string_view file,
                                                          std::size_t piece) {
    quelmar::utils::MemorySource source(file, piece);
    return quelmar::utils::read_compressed_bincode(source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t options = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool wrapped = (options & 3) != 0;
    std::string file = wrapped ? make_frame(rest, options) : std::string(rest);
    if ((options & 3) == 3) file += "trailing bytes after the frame";

    const auto whole = read(file, SIZE_MAX);
    const auto pieces = read(file, 1 + size % 17);
    check(whole.ok() == pieces.ok(), "outcome depends on how the file arrives");
    if (!whole.ok()) {
        check(whole.error().message() == pieces.error().message(),
              "message depends on how the file arrives", whole.error().message());
    } else {
        check_invariants(whole.value());
        check_invariants(pieces.value());
        check(whole.value().name_set.id_to_name() == pieces.value().name_set.id_to_name() &&
                  whole.value().m_cache == pieces.value().m_cache &&
                  whole.value().offsets == pieces.value().offsets,
              "graph depends on how the file arrives");
    }
    if (!wrapped) return 0;

    const Content content = decode_content(rest);
    if (content.complete && is_valid_graph(content)) {
        if (!whole.ok()) fail("refused a valid snapshot", whole.error().message());
        check_same_graph(whole.value(), content);
        return 0;
    }
    if (whole.ok()) fail("accepted a snapshot with broken content");
    const std::string& message = whole.error().message();
    const bool invalid = message.starts_with("invalid snapshot: ");
    check(invalid || (!content.complete && message == "io error: failed to fill whole buffer"),
          "unexpected error for broken content", message);
    return 0;
}
