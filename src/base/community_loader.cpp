#include "src/base/community_loader.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/cache_line.h"
#include "runtime/parallel.h"
#include "runtime/prefetch.h"
#include "src/base/line_blocks.h"
#include "src/base/line_rules.h"
#include "src/base/line_tokenizer.h"
#include "src/base/lookahead.h"
#include "src/base/membership_builder.h"

namespace quelmar::base {
namespace {

struct UnknownName {
    std::uint64_t line;  // index among the block's lines
    NumberToken node;
};

// What one worker makes of one block of lines: the known members of each
// line in order (one run per line, its cluster the line's index in the
// block), the names the graph lacks in order, and the first failing line.
// Reused block after block; readers side by side are written by different
// workers.
class alignas(runtime::kCacheLine) BlockReader {
public:
    void read(TextBlock block, const utils::NameSet& names) {
        clear();
        const unsigned char* begin = block.data();
        const unsigned char* const end = block.data() + block.size();
        while (begin < end && !failure_) {
            runtime::prefetch_ahead(begin);
            const void* feed = std::memchr(begin, '\n', end - begin);
            const unsigned char* line_end = feed ? static_cast<const unsigned char*>(feed) : end;
            add_line(TextBlock(begin, line_end));
            begin = line_end + 1;
        }
        resolve(names);
    }

    std::vector<MemberRun>& runs() { return runs_; }
    const std::vector<utils::NodeId>& members() const { return members_; }
    const std::vector<UnknownName>& unknown() const { return unknown_; }
    std::optional<std::string_view> failure() const { return failure_; }
    const std::string& failure_token() const { return failure_token_; }
    // Lines read, the failing one aside.
    std::uint64_t line_count() const { return lines_; }

private:
    void clear() {
        names_.clear();
        line_of_.clear();
        members_.clear();
        runs_.clear();
        unknown_.clear();
        failure_.reset();
        lines_ = 0;
    }
    void add_line(TextBlock line) {
        const bool valid = tokenize_all(line.data(), line.data() + line.size(), tokens_);
        std::size_t failing = 0;
        failure_ = community_line_error(valid ? &tokens_ : nullptr, failing);
        // The names before a failing one are looked up too: as lines of the
        // membership twin, one of them may fail first.
        const std::size_t names = failure_ ? failing : tokens_.size();
        for (std::size_t i = 0; i < names; ++i) {
            names_.push_back(tokens_[i]);
            line_of_.push_back(lines_);
        }
        if (failure_) {
            failure_token_ = valid ? token_as_written(line, failing) : std::string();
            return;
        }
        ++lines_;
    }
    void resolve(const utils::NameSet& names) {
        visit_with_lookahead(
            names_.size(), [&](std::size_t i) { names.prefetch(names_[i].value); },
            [&](std::size_t i) {
                const std::uint64_t line = line_of_[i];
                if (const auto id = names.retrieve(names_[i].value)) {
                    if (runs_.empty() || runs_.back().cluster != line) {
                        runs_.push_back({line, members_.size(), members_.size()});
                    }
                    members_.push_back(static_cast<utils::NodeId>(*id));
                    ++runs_.back().end;
                } else {
                    unknown_.push_back({line, names_[i]});
                }
            });
    }

    std::vector<NumberToken> tokens_;
    std::vector<NumberToken> names_;
    std::vector<std::uint64_t> line_of_;
    std::vector<utils::NodeId> members_;
    std::vector<MemberRun> runs_;
    std::vector<UnknownName> unknown_;
    std::optional<std::string_view> failure_;
    std::string failure_token_;
    std::uint64_t lines_ = 0;
};

// Hands one block to the builder in line order, its lines numbered after the
// `lines_before` lines of the blocks taken before; as clustering.cpp does.
runtime::Result<void> take(BlockReader& block, std::uint64_t& lines_before,
                           MembershipBuilder& builder) {
    for (const UnknownName& name : block.unknown()) {
        const ClusterId cluster = lines_before + name.line;
        auto skipped = builder.skip_unknown(cluster, [&] { return name.node.as_written(); });
        if (!skipped) return std::move(skipped).error().at({cluster + 1, name.node.as_written()});
    }
    if (const auto failure = block.failure()) {
        return runtime::Error(std::string(*failure))
            .at({lines_before + block.line_count() + 1, block.failure_token()});
    }
    for (MemberRun& run : block.runs()) run.cluster += lines_before;
    builder.append(block.members(), block.runs());
    lines_before += block.line_count();
    return {};
}

}  // namespace

runtime::Result<Clustering> parse_communities_from_reader(const Graph& graph,
                                                          utils::ByteSource& input,
                                                          const TextLoadOptions& load,
                                                          bool strict) {
    const LoadPool pool(load.pool);
    const utils::NameSet& names = graph.name_set();
    LineChunkReader reader(input, load.buffer_bytes, LineChunkReader::LongLines::kWhole);
    MembershipBuilder builder(strict);
    std::vector<BlockReader> readers;
    std::uint64_t lines_before = 0;
    for (;;) {
        auto piece = reader.next();
        if (!piece) return std::move(piece).error();
        const LineChunkReader::Piece& lines = piece.value();
        if (lines.at_end()) break;
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

}  // namespace quelmar::base
