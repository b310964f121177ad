#pragma once
// Test helpers for snapshots: the value sequence of a graph in the snapshot
// layout, and LZ4 frames of arbitrary values written with liblz4's frame API.

#include <lz4frame.h>

#include <cstdint>
#include <fstream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quelmar::testing {

struct FrameOptions {
    bool content_checksum = true;
    bool block_checksum = false;
    bool declare_content_size = false;
    LZ4F_blockSizeID_t block_size = LZ4F_max64KB;
    // Extra bytes placed after the values, inside the frame.
    std::string trailing_content;
};

// A neighbour array as a plain vector, for comparisons.
inline std::vector<std::uint32_t> ids(std::span<const std::uint32_t> neighbours) {
    return {neighbours.begin(), neighbours.end()};
}

inline FrameOptions with_checksum(bool content_checksum) {
    FrameOptions options;
    options.content_checksum = content_checksum;
    return options;
}

inline std::string values_as_bytes(const std::vector<std::uint64_t>& values) {
    std::string bytes;
    bytes.reserve(values.size() * 8);
    for (std::uint64_t value : values) {
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
    return bytes;
}

inline std::string lz4_frame(const std::string& content, const FrameOptions& options = {}) {
    LZ4F_preferences_t preferences{};
    preferences.frameInfo.blockSizeID = options.block_size;
    preferences.frameInfo.blockMode = LZ4F_blockLinked;
    preferences.frameInfo.contentChecksumFlag =
        options.content_checksum ? LZ4F_contentChecksumEnabled : LZ4F_noContentChecksum;
    preferences.frameInfo.blockChecksumFlag =
        options.block_checksum ? LZ4F_blockChecksumEnabled : LZ4F_noBlockChecksum;
    if (options.declare_content_size) preferences.frameInfo.contentSize = content.size();
    std::string frame(LZ4F_compressFrameBound(content.size(), &preferences), '\0');
    const std::size_t size = LZ4F_compressFrame(frame.data(), frame.size(), content.data(),
                                                content.size(), &preferences);
    if (LZ4F_isError(size)) throw std::runtime_error(LZ4F_getErrorName(size));
    frame.resize(size);
    return frame;
}

inline std::string snapshot_frame(const std::vector<std::uint64_t>& values,
                                  const FrameOptions& options = {}) {
    return lz4_frame(values_as_bytes(values) + options.trailing_content, options);
}

// The snapshot values of a graph given by its names (in id order) and its
// neighbour lists, with the map pairs in id order.
inline std::vector<std::uint64_t> snapshot_values(
    const std::vector<std::uint64_t>& names,
    const std::vector<std::vector<std::uint64_t>>& neighbours) {
    std::vector<std::uint64_t> values{names.size(), names.size()};
    for (std::uint64_t id = 0; id < names.size(); ++id) {
        values.push_back(names[id]);
        values.push_back(id);
    }
    values.push_back(names.size());
    values.insert(values.end(), names.begin(), names.end());
    values.push_back(neighbours.size());
    std::uint64_t entries = 0;
    for (std::uint64_t id = 0; id < neighbours.size(); ++id) {
        values.push_back(id);
        values.push_back(neighbours[id].size());
        values.insert(values.end(), neighbours[id].begin(), neighbours[id].end());
        entries += neighbours[id].size();
    }
    values.push_back(entries / 2);
    return values;
}

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace quelmar::testing
