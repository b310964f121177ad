// Loads a graph file with the library's loader and writes it as a snapshot:
// one LZ4 frame (content checksum on) holding 8-byte little-endian values
//   next_id, N, N (name, id) pairs, K, K names, n, n records (id, d, d ids), m_cache.
// The content is compressed as it is produced, never held whole.
//
//   quelmar_write_snapshot GRAPH_FILE OUT.lz4

#include <lz4frame.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/graph_loader.h"

namespace {

class FrameWriter {
public:
    explicit FrameWriter(const std::string& path) : out_(std::fopen(path.c_str(), "wb")) {
        if (!out_) throw std::runtime_error("cannot open " + path);
        check(LZ4F_createCompressionContext(&context_, LZ4F_VERSION));
        preferences_.frameInfo.blockSizeID = LZ4F_max256KB;
        preferences_.frameInfo.contentChecksumFlag = LZ4F_contentChecksumEnabled;
        staged_.reserve(kStagedBytes);
        compressed_.resize(LZ4F_compressBound(kStagedBytes, &preferences_));
        emit(check(LZ4F_compressBegin(context_, compressed_.data(), compressed_.size(),
                                      &preferences_)));
    }
    ~FrameWriter() {
        LZ4F_freeCompressionContext(context_);
        if (out_) std::fclose(out_);
    }

    void value(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) staged_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        if (staged_.size() >= kStagedBytes) compress_staged();
    }

    void finish() {
        compress_staged();
        emit(check(LZ4F_compressEnd(context_, compressed_.data(), compressed_.size(), nullptr)));
        if (std::fclose(std::exchange(out_, nullptr)) != 0) {
            throw std::runtime_error("close failed");
        }
    }

private:
    static constexpr std::size_t kStagedBytes = 1 << 20;

    static std::size_t check(std::size_t code) {
        if (LZ4F_isError(code)) throw std::runtime_error(LZ4F_getErrorName(code));
        return code;
    }
    void compress_staged() {
        if (staged_.empty()) return;
        emit(check(LZ4F_compressUpdate(context_, compressed_.data(), compressed_.size(),
                                       staged_.data(), staged_.size(), nullptr)));
        staged_.clear();
    }
    void emit(std::size_t bytes) {
        if (bytes && std::fwrite(compressed_.data(), 1, bytes, out_) != bytes) {
            throw std::runtime_error("write failed");
        }
    }

    std::FILE* out_;
    LZ4F_cctx* context_ = nullptr;
    LZ4F_preferences_t preferences_{};
    std::vector<char> staged_;
    std::vector<char> compressed_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quelmar_write_snapshot GRAPH_FILE OUT.lz4\n");
        return 2;
    }
    auto loaded = quelmar::parse_from_file(argv[1]);
    if (!loaded) {
        std::fprintf(stderr, "%s\n", loaded.error().report().c_str());
        return 1;
    }
    const quelmar::Graph& graph = loaded.value();
    try {
        FrameWriter out(argv[2]);
        const auto& names = graph.name_set();
        out.value(names.next_id());
        out.value(names.name_to_id().size());
        for (const auto& [name, id] : names.name_to_id()) {
            out.value(name);
            out.value(id);
        }
        out.value(names.id_to_name().size());
        for (quelmar::NodeName name : names.id_to_name()) out.value(name);
        out.value(graph.node_count());
        for (std::uint64_t u = 0; u < graph.node_count(); ++u) {
            const auto list = graph.neighbours(static_cast<quelmar::NodeId>(u));
            out.value(u);
            out.value(list.size());
            for (quelmar::NodeId v : list) out.value(v);
        }
        out.value(graph.m_cache());
        out.finish();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "nodes %llu, edges %llu\n",
                 static_cast<unsigned long long>(graph.node_count()),
                 static_cast<unsigned long long>(graph.m_cache()));
    return 0;
}
