#include "src/base/clustering.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/cache_line.h"
#include "runtime/parallel.h"
#include "src/base/line_blocks.h"
#include "src/base/line_rules.h"
#include "src/base/lookahead.h"
#include "src/base/membership_builder.h"

namespace quelmar::base {
namespace {

struct UnknownNode {
    ClusterId cluster;
    NumberToken node;
    std::uint64_t line;  // index among the block's lines
};

// What one worker makes of one block of lines: the members of its known
// lines in line order, grouped in runs, its lines naming unknown nodes in
// line order, and the first failing line's message. Reused block after block;
// readers side by side in an array are written by different workers.
class alignas(runtime::kCacheLine) BlockReader {
public:
    void read(TextBlock block, const utils::NameSet& names) {
        clear();
        for_each_line(block,
                      [&](const LineTokens* line, TextBlock bytes) { return add(line, bytes); });
        resolve(names);
    }
    void read_one(const LineTokens* line, const utils::NameSet& names) {
        clear();
        add(line, {});
        resolve(names);
    }

    const std::vector<utils::NodeId>& members() const { return members_; }
    const std::vector<MemberRun>& runs() const { return runs_; }
    const std::vector<UnknownNode>& unknown() const { return unknown_; }
    std::optional<std::string_view> failure() const { return failure_; }
    // The token the failure is about (see line_rules.h).
    const std::string& failure_token() const { return failure_token_; }
    // Lines read, the failing one aside.
    std::uint64_t line_count() const { return lines_.size(); }

private:
    struct Line {
        NumberToken node;
        ClusterId cluster;
    };

    void clear() {
        lines_.clear();
        members_.clear();
        runs_.clear();
        unknown_.clear();
        failure_.reset();
    }
    bool add(const LineTokens* line, TextBlock bytes) {
        failure_ = membership_line_error(line);
        if (failure_) {
            failure_token_ = membership_failure_token(line, bytes);
            return false;
        }
        lines_.push_back({line->first, line->second.value});
        return true;
    }
    void resolve(const utils::NameSet& names) {
        visit_with_lookahead(
            lines_.size(), [&](std::size_t i) { names.prefetch(lines_[i].node.value); },
            [&](std::size_t i) {
                const Line& line = lines_[i];
                if (const auto id = names.retrieve(line.node.value)) {
                    if (runs_.empty() || runs_.back().cluster != line.cluster) {
                        runs_.push_back({line.cluster, members_.size(), members_.size()});
                    }
                    members_.push_back(static_cast<utils::NodeId>(*id));
                    ++runs_.back().end;
                } else {
                    unknown_.push_back({line.cluster, line.node, i});
                }
            });
    }

    std::vector<Line> lines_;
    std::vector<utils::NodeId> members_;
    std::vector<MemberRun> runs_;
    std::vector<UnknownNode> unknown_;
    std::optional<std::string_view> failure_;
    std::string failure_token_;
};

// Hands one block's lines to the builder, in line order: its lines naming
// unknown nodes, then its failing line's message, if any, then its members.
// `lines_before` counts the lines of the blocks taken before; failures carry
// their line number.
runtime::Result<void> take(const BlockReader& block, std::uint64_t& lines_before,
                           MembershipBuilder& builder) {
    for (const UnknownNode& line : block.unknown()) {
        auto skipped = builder.skip_unknown(line.cluster, [&] { return line.node.as_written(); });
        if (!skipped) {
            return std::move(skipped).error().at(
                {lines_before + line.line + 1, line.node.as_written()});
        }
    }
    if (const auto failure = block.failure()) {
        return runtime::Error(std::string(*failure))
            .at({lines_before + block.line_count() + 1, block.failure_token()});
    }
    builder.append(block.members(), block.runs());
    lines_before += block.line_count();
    return {};
}

}  // namespace

runtime::Result<Clustering> Clustering::parse_from_reader(const Graph& graph,
                                                          utils::ByteSource& input,
                                                          const TextLoadOptions& load,
                                                          bool strict) {
    const LoadPool pool(load.pool);
    const utils::NameSet& names = graph.name_set();
    LineChunkReader reader(input, load.buffer_bytes);
    MembershipBuilder builder(strict);
    std::vector<BlockReader> readers;
    std::uint64_t lines_before = 0;
    for (;;) {
        auto piece = reader.next();
        if (!piece) return std::move(piece).error();
        const LineChunkReader::Piece& lines = piece.value();
        if (lines.at_end()) break;
        if (lines.long_line) {
            readers.resize(std::max<std::size_t>(readers.size(), 1));
            readers[0].read_one(lines.long_line_valid ? &lines.long_line_tokens : nullptr, names);
            if (auto taken = take(readers[0], lines_before, builder); !taken) {
                return std::move(taken).error();
            }
            continue;
        }
        const std::vector<TextBlock> blocks = cut_into_blocks(lines.lines, load.block_bytes);
        readers.resize(std::max(readers.size(), blocks.size()));
        runtime::parallel_for_beside_caller(
            pool.get(), blocks.size(), [&](std::size_t b) { readers[b].read(blocks[b], names); },
            [&] { reader.read_ahead(); });
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            if (auto taken = take(readers[b], lines_before, builder); !taken) {
                return std::move(taken).error();
            }
        }
    }
    return std::move(builder).finish(pool.get());
}

runtime::Result<Clustering> Clustering::parse_from_file(const Graph& graph, const std::string& path,
                                                        const ClusteringOptions& options) {
    auto file = utils::FileSource::open(path);
    if (!file) return std::move(file).error();
    return parse_from_reader(graph, file.value(), {.pool = options.pool}, options.strict);
}

}  // namespace quelmar::base
