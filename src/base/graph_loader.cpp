#include "src/base/graph_loader.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/cache_line.h"
#include "runtime/log.h"
#include "runtime/parallel.h"
#include "src/base/graph_builder.h"
#include "src/base/line_blocks.h"
#include "src/base/line_rules.h"
#include "src/base/path_extension.h"
#include "src/utils/snapshot_reader.h"

namespace quelmar::base {
namespace {

// The names of one block's lines (from and to alternately) up to its first
// failing line, and that line's message. Reused block after block; readers
// side by side in an array are written by different workers.
class alignas(runtime::kCacheLine) BlockReader {
public:
    void read(TextBlock block) {
        clear();
        for_each_line(block,
                      [&](const LineTokens* line, TextBlock bytes) { return add(line, bytes); });
    }
    void read_one(const LineTokens* line) {
        clear();
        add(line, {});
    }
    std::span<utils::NodeName> names() { return names_; }
    std::optional<std::string_view> failure() const { return failure_; }
    // The token the failure is about (see line_rules.h).
    const std::string& failure_token() const { return failure_token_; }

private:
    void clear() {
        names_.clear();
        failure_.reset();
    }
    bool add(const LineTokens* line, TextBlock bytes) {
        failure_ = edge_line_error(line);
        if (failure_) {
            failure_token_ = edge_failure_token(line, bytes);
            return false;
        }
        names_.push_back(line->first.value);
        names_.push_back(line->second.value);
        return true;
    }

    std::vector<utils::NodeName> names_;
    std::optional<std::string_view> failure_;
    std::string failure_token_;
};

// A failing line's message with its place: every line before it in the input
// gave two names, and `names_before` of them were gathered.
struct LineFailure {
    std::string_view message;
    runtime::TextPosition position;
};

// Appends the names of `readers` up to the first failing line to `names`.
// That line's failure, if any, `names_before` names having been gathered in
// earlier rounds.
std::optional<LineFailure> gather_read_lines(std::span<BlockReader> readers,
                                             std::vector<utils::NodeName>& names,
                                             std::uint64_t names_before,
                                             runtime::WorkerPool* pool) {
    std::vector<std::size_t> start{names.size()};
    std::optional<LineFailure> failure;
    for (BlockReader& reader : readers) {
        start.push_back(start.back() + reader.names().size());
        if (const auto message = reader.failure()) {
            const std::uint64_t line = (names_before + start.back()) / 2 + 1;
            failure = LineFailure{*message, {line, reader.failure_token()}};
            break;
        }
    }
    names.resize(start.back());
    runtime::parallel_for(pool, start.size() - 1, [&](std::size_t b) {
        std::copy(readers[b].names().begin(), readers[b].names().end(), names.begin() + start[b]);
    });
    return failure;
}

// Hands the builder the gathered lines, then reports `failure`: lines before
// the failing one may fail first, on the node limit.
runtime::Result<void> add_gathered_lines(std::vector<utils::NodeName>& names,
                                         std::optional<LineFailure> failure,
                                         GraphBuilder& builder) {
    const bool added = builder.add_lines(names);
    names.clear();
    if (!added)
        return runtime::Error(runtime::ErrorKind::kLimit, std::string(GraphBuilder::kTooManyNodes));
    if (failure)
        return runtime::Error(std::string(failure->message)).at(std::move(failure->position));
    return {};
}

// Reads every line into the builder, in rounds (round_target); the reading
// scratch is gone on return.
runtime::Result<void> read_lines(utils::ByteSource& input, GraphBuilder& builder,
                                 runtime::WorkerPool* pool, const TextLoadOptions& options) {
    LineChunkReader reader(input, options.buffer_bytes);
    std::vector<BlockReader> readers;
    std::vector<utils::NodeName> names;
    std::uint64_t resolved = 0;
    for (;;) {
        auto piece = reader.next();
        if (!piece) {
            // The lines before the failed read may fail first.
            auto added = add_gathered_lines(names, std::nullopt, builder);
            if (!added) return std::move(added).error();
            return std::move(piece).error();
        }
        const LineChunkReader::Piece& lines = piece.value();
        if (lines.at_end()) break;
        std::size_t count = 1;
        if (lines.long_line) {
            readers.resize(std::max<std::size_t>(readers.size(), 1));
            readers[0].read_one(lines.long_line_valid ? &lines.long_line_tokens : nullptr);
        } else {
            const std::vector<TextBlock> blocks = cut_into_blocks(lines.lines, options.block_bytes);
            count = blocks.size();
            readers.resize(std::max(readers.size(), count));
            runtime::parallel_for_beside_caller(
                pool, count, [&](std::size_t b) { readers[b].read(blocks[b]); },
                [&] { reader.read_ahead(); });
        }
        auto failure = gather_read_lines(std::span(readers).first(count), names, resolved, pool);
        if (failure || names.size() >= round_target(options.round_names, resolved)) {
            resolved += names.size();
            auto added = add_gathered_lines(names, std::move(failure), builder);
            if (!added) return std::move(added).error();
        }
    }
    return add_gathered_lines(names, std::nullopt, builder);
}

}  // namespace

runtime::Result<Graph> parse_edgelist_from_reader(utils::ByteSource& input,
                                                  std::uint64_t max_nodes) {
    return parse_edgelist_from_reader(input, utils::TaskMonitor::unwatched(), max_nodes);
}

runtime::Result<Graph> parse_edgelist_from_reader(utils::ByteSource& input,
                                                  utils::TaskMonitor& monitor,
                                                  std::uint64_t max_nodes,
                                                  const TextLoadOptions& options) {
    const LoadPool pool(options.pool);
    GraphBuilder builder(GraphBuilder::Limits{.max_nodes = max_nodes}, pool.get());
    auto read = read_lines(input, builder, pool.get(), options);
    if (!read) return std::move(read).error();
    return std::move(builder).into_permanent(monitor);
}

runtime::Result<Graph> parse_from_file(const std::string& path, utils::TaskMonitor& monitor) {
    if (path_extension(path) == "lz4") {
        runtime::log::debug(runtime::log::kTargetBase, "loading from bincode.lz4");
        auto parts = utils::read_compressed_bincode(path, monitor);
        if (!parts) return std::move(parts).error();
        return Graph(std::move(parts).value());
    }
    runtime::log::debug(runtime::log::kTargetBase, "loading from edgelist");
    auto file = utils::FileSource::open(path, monitor);
    if (!file) return std::move(file).error();
    return parse_edgelist_from_reader(file.value(), monitor);
}

}  // namespace quelmar::base
