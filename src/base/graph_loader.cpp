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
#include "src/base/name_part.h"
#include "src/base/path_extension.h"
#include "src/utils/snapshot_reader.h"

namespace quelmar::base {
namespace {

// The names of one block's lines (from and to alternately) up to its first
// failing line, marked for the name table, and that line's message. Readers
// are kept for a whole round and reused round after round; readers side by
// side in an array are written by different workers.
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
    void reserve(std::size_t names) { names_.reserve(names); }
    const MarkedNames& names() const { return names_; }
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
        names_.add_line(line->first.value, line->second.value);
        return true;
    }

    MarkedNames names_;
    std::optional<std::string_view> failure_;
    std::string failure_token_;
};

// The blocks read since the last round was resolved, in order, the readers
// kept from round to round.
class Round {
public:
    // Readers for `count` more blocks of at most `names` names each.
    std::span<BlockReader> next(std::size_t count, std::size_t names) {
        if (readers_.size() < used_ + count) readers_.resize(used_ + count);
        const auto readers = std::span(readers_).subspan(used_, count);
        for (BlockReader& reader : readers) reader.reserve(names);
        return readers;
    }
    // Takes the `count` blocks just read; returns the first failing line's
    // message and place, if any, and takes no block after it. `resolved`
    // names were resolved before this round.
    std::optional<runtime::Error> take(std::size_t count, std::uint64_t resolved) {
        for (std::size_t b = used_; b < used_ + count; ++b) {
            names_ += readers_[b].names().size();
            if (const auto message = readers_[b].failure()) {
                used_ = b + 1;
                const std::uint64_t line = (resolved + names_) / 2 + 1;
                return runtime::Error(std::string(*message))
                    .at({line, readers_[b].failure_token()});
            }
        }
        used_ += count;
        return std::nullopt;
    }
    std::uint64_t names() const { return names_; }
    // Hands the round's lines to the builder and starts the next round.
    bool add_to(GraphBuilder& builder) {
        std::vector<NamePart> parts;
        parts.reserve(used_);
        for (std::size_t b = 0; b < used_; ++b) parts.push_back(readers_[b].names().part());
        const bool added = builder.add_lines(parts);
        used_ = 0;
        names_ = 0;
        return added;
    }

private:
    std::vector<BlockReader> readers_;
    std::size_t used_ = 0;
    std::uint64_t names_ = 0;
};

// Hands the builder the round's lines, then reports `failure`: lines before
// the failing one may fail first, on the node limit.
runtime::Result<void> add_round(Round& round, std::optional<runtime::Error> failure,
                                GraphBuilder& builder) {
    if (!round.add_to(builder))
        return runtime::Error(runtime::ErrorKind::kLimit, std::string(GraphBuilder::kTooManyNodes));
    if (failure) return std::move(*failure);
    return {};
}

// Reads every line into the builder, in rounds (round_target); the reading
// scratch is gone on return.
runtime::Result<void> read_lines(utils::ByteSource& input, GraphBuilder& builder,
                                 runtime::WorkerPool* pool, const TextLoadOptions& options) {
    LineChunkReader reader(input, options.buffer_bytes);
    Round round;
    std::uint64_t resolved = 0;
    for (;;) {
        auto piece = reader.next();
        if (!piece) {
            // The lines before the failed read may fail first.
            auto added = add_round(round, std::nullopt, builder);
            if (!added) return std::move(added).error();
            return std::move(piece).error();
        }
        const LineChunkReader::Piece& lines = piece.value();
        if (lines.at_end()) break;
        std::size_t count = 1;
        if (lines.long_line) {
            round.next(1, 2)[0].read_one(lines.long_line_valid ? &lines.long_line_tokens : nullptr);
        } else {
            const std::vector<TextBlock> blocks = cut_into_blocks(lines.lines, options.block_bytes);
            count = blocks.size();
            // A line of two names takes at least four bytes with its line
            // feed, a last line without one three.
            std::size_t most_bytes = 0;
            for (const TextBlock block : blocks) most_bytes = std::max(most_bytes, block.size());
            const std::span<BlockReader> readers = round.next(count, most_bytes / 2 + 2);
            runtime::parallel_for_beside_caller(
                pool, count, [&](std::size_t b) { readers[b].read(blocks[b]); },
                [&] { reader.read_ahead(); });
        }
        auto failure = round.take(count, resolved);
        if (failure || round.names() >= round_target(options.round_names, resolved)) {
            resolved += round.names();
            auto added = add_round(round, std::move(failure), builder);
            if (!added) return std::move(added).error();
        }
    }
    return add_round(round, std::nullopt, builder);
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
        const LoadPool pool(nullptr);
        auto parts = utils::read_compressed_bincode(path, monitor, pool.get());
        if (!parts) return std::move(parts).error();
        return Graph(std::move(parts).value());
    }
    runtime::log::debug(runtime::log::kTargetBase, "loading from edgelist");
    auto file = utils::FileSource::open(path, monitor);
    if (!file) return std::move(file).error();
    return parse_edgelist_from_reader(file.value(), monitor);
}

}  // namespace quelmar::base
