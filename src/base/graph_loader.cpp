#include "src/base/graph_loader.h"

#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "runtime/log.h"
#include "src/base/graph_builder.h"
#include "src/base/line_reader.h"
#include "src/base/path_extension.h"
#include "src/utils/snapshot_reader.h"

namespace quelmar::base {
namespace {

constexpr std::string_view kMissingFrom = "missing from";
constexpr std::string_view kMissingTo = "missing to";

// With random names every lookup misses the cache: parse a batch of lines,
// prefetching each name's hash slot, then resolve the names in order.
constexpr std::size_t kBatchLines = 32;

class PendingEdges {
public:
    bool full() const { return count_ == names_.size(); }
    void add(utils::NodeName from, utils::NodeName to) {
        names_[count_++] = from;
        names_[count_++] = to;
    }
    // Adds the edges line by line. False when the graph would exceed its
    // node limit.
    bool resolve(GraphBuilder& builder) {
        const std::size_t count = std::exchange(count_, 0);
        for (std::size_t i = 0; i < count; i += 2) {
            if (!builder.add_edge(names_[i], names_[i + 1])) return false;
        }
        return true;
    }

private:
    std::array<utils::NodeName, 2 * kBatchLines> names_;
    std::size_t count_ = 0;
};

std::optional<std::string_view> edge_line_error(const LineTokens& line) {
    if (line.count == 0) return kMissingFrom;
    if (line.count == 1) return kMissingTo;
    if (!line.first.valid()) return line.first.error_message();
    if (!line.second.valid()) return line.second.error_message();
    return std::nullopt;
}

}  // namespace

runtime::Result<Graph> parse_edgelist_from_reader(utils::ByteSource& input,
                                                  std::uint64_t max_nodes) {
    return parse_edgelist_from_reader(input, utils::TaskMonitor::unwatched(), max_nodes);
}

runtime::Result<Graph> parse_edgelist_from_reader(utils::ByteSource& input,
                                                  utils::TaskMonitor& monitor,
                                                  std::uint64_t max_nodes) {
    LineReader reader(input);
    GraphBuilder builder(GraphBuilder::Limits{.max_nodes = max_nodes});
    PendingEdges pending;
    LineTokens line;
    for (;;) {
        const LineReader::Step step = reader.next(line);
        if (step == LineReader::Step::kEnd) break;
        std::optional<std::string_view> line_error;
        if (step == LineReader::Step::kLine) line_error = edge_line_error(line);
        if (step == LineReader::Step::kFailed || line_error) [[unlikely]] {
            // Lines before the failing one may fail first.
            if (!pending.resolve(builder))
                return runtime::Error(std::string(GraphBuilder::kTooManyNodes));
            if (line_error) return runtime::Error(std::string(*line_error));
            return reader.take_error();
        }
        builder.prefetch(line.first.value);
        builder.prefetch(line.second.value);
        pending.add(line.first.value, line.second.value);
        if (pending.full() && !pending.resolve(builder)) {
            return runtime::Error(std::string(GraphBuilder::kTooManyNodes));
        }
    }
    if (!pending.resolve(builder)) return runtime::Error(std::string(GraphBuilder::kTooManyNodes));
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
