// The edge-list reader against the plain model of text_reference.h: the input
// is the file's content. Each input is read four times: whole, in small
// pieces through a small buffer cut into tiny blocks on the worker pool (so
// buffer and block boundaries cut lines, tokens and multi-byte characters
// elsewhere), the same on a pool of one worker, and with a node limit of a
// handful. Every run must give the model's graph (names in order of first
// appearance, neighbour lists, edge count) or exactly the model's error
// message, and the two cut runs must agree byte for byte; past the node
// limit, the limit's message is also allowed wherever the model would fail
// later.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "fuzz/fuzz_check.h"
#include "fuzz/text_reference.h"
#include "runtime/worker_pool.h"
#include "src/base/graph_builder.h"
#include "src/base/graph_loader.h"
#include "src/utils/byte_source.h"

namespace {

using quelmar::fuzz::check;
using quelmar::fuzz::fail;
using quelmar::fuzz::ReferenceGraph;

void check_same_graph(const quelmar::base::Graph& graph, const ReferenceGraph& expected) {
    check(graph.node_count() == expected.id_to_name.size(), "node count");
    check(graph.m_cache() == expected.m_cache, "edge count");
    const quelmar::utils::NameSet& names = graph.name_set();
    check(names.next_id() == expected.id_to_name.size(), "next_id");
    check(names.id_to_name() == expected.id_to_name, "names out of first-appearance order");
    for (std::uint64_t id = 0; id < expected.id_to_name.size(); ++id) {
        check(names.retrieve(expected.id_to_name[id]) == id, "name map disagrees with the names");
        const auto actual = graph.neighbours(static_cast<quelmar::utils::NodeId>(id));
        const auto& wanted = expected.neighbours[id];
        check(actual.size() == wanted.size() &&
                  graph.degree(static_cast<quelmar::utils::NodeId>(id)) == wanted.size(),
              "degree");
        std::size_t at = 0;
        for (const std::uint64_t neighbour : wanted) {
            check(actual[at++] == neighbour, "neighbour list");
        }
    }
}

void check_outcome(const quelmar::runtime::Result<quelmar::base::Graph>& loaded,
                   const std::variant<ReferenceGraph, std::string>& expected) {
    if (const auto* message = std::get_if<std::string>(&expected)) {
        if (loaded.ok()) fail("loaded a file the model refuses", *message);
        check(loaded.error().message() == *message, "error message",
              loaded.error().message() + " instead of " + *message);
        return;
    }
    if (!loaded.ok()) fail("refused a file the model loads", loaded.error().message());
    check_same_graph(loaded.value(), std::get<ReferenceGraph>(expected));
}

// Two loads of one input, compared as stored: names, offsets, neighbours,
// edge count, or the message.
void check_identical(const quelmar::runtime::Result<quelmar::base::Graph>& a,
                     const quelmar::runtime::Result<quelmar::base::Graph>& b) {
    check(a.ok() == b.ok(), "one pool size loads, the other fails");
    if (!a.ok()) {
        check(a.error().message() == b.error().message(), "messages differ by pool size");
        return;
    }
    const quelmar::base::Graph& x = a.value();
    const quelmar::base::Graph& y = b.value();
    check(x.name_set().id_to_name() == y.name_set().id_to_name(), "names differ by pool size");
    check(std::ranges::equal(x.offsets(), y.offsets()), "offsets differ by pool size");
    check(std::ranges::equal(x.all_neighbours(), y.all_neighbours()),
          "neighbours differ by pool size");
    check(x.m_cache() == y.m_cache(), "edge count differs by pool size");
}

quelmar::runtime::WorkerPool* one_worker() {
    static quelmar::runtime::WorkerPool* const pool =
        std::move(quelmar::runtime::WorkerPool::start(1)).value().release();
    return pool;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto expected = quelmar::fuzz::reference_edge_list(text);

    quelmar::utils::MemorySource whole(text);
    check_outcome(quelmar::base::parse_edgelist_from_reader(whole), expected);

    // Buffers of 16 to 40 bytes, blocks of 1 to 8, rounds of 1 to 30 names.
    auto cut = [&](quelmar::runtime::WorkerPool* pool) {
        quelmar::utils::MemorySource pieces(text, 1 + size % 13);
        return quelmar::base::parse_edgelist_from_reader(
            pieces, quelmar::utils::TaskMonitor::unwatched(), quelmar::utils::kMaxNodes,
            {.pool = pool,
             .buffer_bytes = 16 + size % 25,
             .block_bytes = 1 + size % 8,
             .round_names = 1 + size % 30});
    };
    const auto parallel = cut(quelmar::runtime::global_pool());
    check_outcome(parallel, expected);
    check_identical(parallel, cut(one_worker()));

    constexpr std::uint64_t kFewNodes = 5;
    quelmar::utils::MemorySource limited(text);
    const auto capped = quelmar::base::parse_edgelist_from_reader(limited, kFewNodes);
    const auto* graph = std::get_if<ReferenceGraph>(&expected);
    if (graph && graph->id_to_name.size() <= kFewNodes) {
        check_outcome(capped, expected);
    } else {
        check(!capped.ok(), "node limit ignored");
        const std::string& message = capped.error().message();
        const bool limit = message == quelmar::base::GraphBuilder::kTooManyNodes;
        check(limit || (!graph && message == std::get<std::string>(expected)),
              "error message under the node limit", message);
    }
    return 0;
}
