// The companion's published forms against the plain readers they stand on;
// the input is a file's content. Read as an edge list through PublishedText,
// it must load exactly as its gzip (in one member, or cut into two) does,
// graph or failure with its line; when it holds nothing a header or a comma
// could change (no "#", "%" or ",", no byte order mark), exactly as the
// module's own reader does. Read as one community per line on a small graph,
// it must load exactly as its membership twin (each name of data line k a
// line "name k"), with and without the strict rule, in small pieces through
// small buffers on the pool; a line the twin cannot hold (not UTF-8, empty)
// must fail with its message unless an earlier line fails first.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/text_reference.h"
#include "runtime/worker_pool.h"
#include "src/base/community_loader.h"
#include "src/base/graph_loader.h"
#include "src/base/published_text.h"
#include "src/utils/byte_source.h"

namespace {

using quelmar::fuzz::check;
using quelmar::fuzz::fail;
namespace base = quelmar::base;
namespace utils = quelmar::utils;

std::string gzip(std::string_view text) {
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        fail("deflateInit2", "");
    }
    std::string out(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) fail("deflate", "");
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// A load's outcome in comparable form: the adjacency and edge count, or the
// message and line.
struct Outcome {
    std::vector<std::vector<utils::NodeId>> adjacency;
    std::uint64_t edges = 0;
    std::string error;
    std::uint64_t line = 0;
    bool operator==(const Outcome&) const = default;
};

Outcome outcome_of(quelmar::runtime::Result<base::Graph> loaded) {
    Outcome outcome;
    if (!loaded) {
        outcome.error = loaded.error().message();
        if (loaded.error().position()) outcome.line = loaded.error().position()->line;
        return outcome;
    }
    for (std::uint64_t u = 0; u < loaded->node_count(); ++u) {
        const auto span = loaded->neighbours(static_cast<utils::NodeId>(u));
        outcome.adjacency.emplace_back(span.begin(), span.end());
    }
    outcome.edges = loaded->m_cache();
    return outcome;
}

Outcome published(std::string_view bytes, std::size_t piece) {
    utils::MemorySource source(bytes, piece);
    base::PublishedText text(source);
    auto graph = base::parse_edgelist_from_reader(
        text, utils::TaskMonitor::unwatched(), utils::kMaxNodes,
        {.buffer_bytes = 16 + piece % 23, .block_bytes = 1 + piece % 7});
    if (!graph) return outcome_of(text.in_file(std::move(graph).error()));
    return outcome_of(std::move(graph));
}

void check_edge_lists(std::string_view text) {
    const Outcome plain = published(text, 1 + text.size() % 13);
    check(published(gzip(text), 1 + text.size() % 5) == plain, "gzip differs from plain text");
    const std::size_t half = text.size() / 2;
    check(published(gzip(text.substr(0, half)) + gzip(text.substr(half)), 7) == plain,
          "two gzip members differ from plain text");
    const bool unchanged =
        text.find_first_of("#%,") == std::string_view::npos && text.rfind("\xEF\xBB\xBF", 0) != 0;
    if (unchanged) {
        utils::MemorySource source(text);
        check(outcome_of(base::parse_edgelist_from_reader(source)) == plain,
              "a text without headers or commas reads otherwise");
    }
}

const base::Graph& small_graph() {
    static const base::Graph graph = [] {
        utils::MemorySource source("1 2\n2 3\n3 1\n3 4\n4 5\n0 18446744073709551615\n77 77\n");
        return std::move(base::parse_edgelist_from_reader(source)).value();
    }();
    return graph;
}

struct Read {
    std::vector<base::ClusterId> ids;
    std::vector<std::uint64_t> starts;
    std::vector<utils::NodeId> members;
    std::uint64_t unknown = 0, dropped = 0;
    std::string error;
    bool operator==(const Read&) const = default;
};

Read read_of(const quelmar::runtime::Result<base::Clustering>& loaded) {
    if (!loaded) return {.error = loaded.error().message()};
    return {loaded->ids,
            loaded->starts,
            loaded->members,
            loaded->unknown_memberships,
            loaded->dropped_singletons,
            {}};
}

void check_communities(std::string_view text) {
    std::string twin;
    std::string stop;  // the message of a line the twin cannot hold
    std::uint64_t k = 0;
    for (const std::string_view line : quelmar::fuzz::split_lines(text)) {
        const auto decoded = quelmar::fuzz::decode_utf8(line);
        if (!decoded) {
            stop = quelmar::fuzz::kBadUtf8;
            break;
        }
        const auto tokens = quelmar::fuzz::split_tokens(*decoded);
        if (tokens.empty()) {
            stop = "missing node_name";
            break;
        }
        for (const auto& token : tokens) {
            twin += quelmar::fuzz::to_utf8(token) + " " + std::to_string(k) + "\n";
        }
        ++k;
    }
    const base::Graph& graph = small_graph();
    for (const bool strict : {false, true}) {
        utils::MemorySource pairs(twin);
        Read expected = read_of(base::Clustering::parse_from_reader(graph, pairs, {}, strict));
        if (!stop.empty() && expected.error.empty()) expected = {.error = stop};
        utils::MemorySource lines(text, 1 + text.size() % 11);
        const Read got =
            read_of(base::parse_communities_from_reader(graph, lines,
                                                        {.pool = quelmar::runtime::global_pool(),
                                                         .buffer_bytes = 8 + text.size() % 19,
                                                         .block_bytes = 1 + text.size() % 5},
                                                        strict));
        if (!(got == expected)) fail("communities differ from their membership twin", got.error);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_edge_lists(text);
    check_communities(text);
    return 0;
}
