#include "src/base/graph_loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/log.h"
#include "src/base/graph_builder.h"
#include "src/base/tests/graph_test_util.h"
#include "src/utils/tests/snapshot_test_writer.h"

namespace quelmar::base {
namespace {

using testing::adjacency;
using Lists = std::vector<std::vector<utils::NodeId>>;

runtime::Result<Graph> load_text(const std::string& text,
                                 std::uint64_t max_nodes = utils::kMaxNodes) {
    utils::MemorySource source(text);
    return parse_edgelist_from_reader(source, max_nodes);
}

std::string error_of(const runtime::Result<Graph>& result) {
    return result.ok() ? "<loaded>" : result.error().message();
}

const std::string kData = QUELMAR_TEST_DATA_DIR;

TEST(EdgeListLoader, EmptyFileGivesEmptyGraph) {
    auto graph = load_text("");
    ASSERT_TRUE(graph.ok());
    EXPECT_EQ(graph.value().node_count(), 0u);
    EXPECT_EQ(graph.value().m_cache(), 0u);
}

TEST(EdgeListLoader, IdsFollowFirstAppearance) {
    auto graph = load_text("30 10\n10 20\n");
    ASSERT_TRUE(graph.ok());
    EXPECT_EQ(graph.value().name_set().id_to_name(), (std::vector<utils::NodeName>{30, 10, 20}));
    EXPECT_EQ(adjacency(graph.value()), (Lists{{1}, {0, 2}, {1}}));
}

TEST(EdgeListLoader, LinesThatLoad) {
    auto repeated = load_text("1 2\n2 1\n1 2");
    ASSERT_TRUE(repeated.ok());
    EXPECT_EQ(adjacency(repeated.value()), (Lists{{1}, {0}}));
    EXPECT_EQ(repeated.value().m_cache(), 1u);

    auto loop = load_text("5 5\n");
    ASSERT_TRUE(loop.ok());
    EXPECT_EQ(adjacency(loop.value()), (Lists{{0}}));
    EXPECT_EQ(loop.value().m_cache(), 0u);

    auto extra = load_text("1 2 3.5 foo\n\t 7   9  \r\n+3 4\n18446744073709551615 0\n");
    ASSERT_TRUE(extra.ok());
    EXPECT_EQ(extra.value().name_set().id_to_name(),
              (std::vector<utils::NodeName>{1, 2, 7, 9, 3, 4, 18446744073709551615ULL, 0}));
}

TEST(EdgeListLoader, FirstFailingLineDecides) {
    EXPECT_EQ(error_of(load_text("1 2\n\n3 4\n")), "missing from");
    EXPECT_EQ(error_of(load_text("1 2\n   \n")), "missing from");
    EXPECT_EQ(error_of(load_text("1,2\n")), "missing to");
    EXPECT_EQ(error_of(load_text("x\n")), "missing to");
    EXPECT_EQ(error_of(load_text("# x\n")), "invalid digit found in string");
    EXPECT_EQ(error_of(load_text("-1 2\n")), "invalid digit found in string");
    EXPECT_EQ(error_of(load_text("1 -2\n")), "invalid digit found in string");
    EXPECT_EQ(error_of(load_text("18446744073709551616 1\n")),
              "number too large to fit in target type");
    // The from token is judged before the to token.
    EXPECT_EQ(error_of(load_text("18446744073709551616 x\n")),
              "number too large to fit in target type");
    EXPECT_EQ(error_of(load_text("x 18446744073709551616\n")), "invalid digit found in string");
    EXPECT_EQ(error_of(load_text("1 2\n3 \xFF\n\n")), "stream did not contain valid UTF-8");
    EXPECT_EQ(error_of(load_text("1\n3 \xFF\n")), "missing to");
}

// Where the failing line is, and the token its message judges as written.
std::string position_of(const runtime::Result<Graph>& result) {
    if (result.ok() || !result.error().position()) return "<none>";
    const runtime::TextPosition& at = *result.error().position();
    return std::to_string(at.line) + " [" + at.token + "]";
}

TEST(EdgeListLoader, FailuresTellTheirLineAndToken) {
    EXPECT_EQ(position_of(load_text("1 2\n3 x4 z\n")), "2 [x4]");
    EXPECT_EQ(position_of(load_text("1 2\n\n")), "2 []");
    EXPECT_EQ(position_of(load_text("1 2\n  007y\u00a0 9\n")), "2 [007y]");
    EXPECT_EQ(position_of(load_text("1\u20032\n3\u3000-5\n")), "2 [-5]");
    EXPECT_EQ(position_of(load_text("1 2\n3 \xFF\n")), "2 []");
    // Lines across many blocks and rounds: every line before counts once.
    std::string text;
    for (int i = 0; i < 50000; ++i) text += std::to_string(i) + " " + std::to_string(i + 1) + "\n";
    text += "1 99999999999999999999\n";
    utils::MemorySource source(text);
    const TextLoadOptions small{.buffer_bytes = 1 << 16, .block_bytes = 4096, .round_names = 1000};
    EXPECT_EQ(position_of(parse_edgelist_from_reader(source, utils::TaskMonitor::unwatched(),
                                                     utils::kMaxNodes, small)),
              "50001 [99999999999999999999]");
}

TEST(EdgeListLoader, NodeLimitIsCheckedInLineOrder) {
    EXPECT_EQ(error_of(load_text("1 2\n3 4\n", 3)), std::string(GraphBuilder::kTooManyNodes));
    // A later malformed line does not hide the earlier overflow, and vice versa.
    EXPECT_EQ(error_of(load_text("1 2\n3 4\nx\n", 3)), std::string(GraphBuilder::kTooManyNodes));
    EXPECT_EQ(error_of(load_text("1 2\nx\n3 4\n", 3)), "missing to");
    EXPECT_TRUE(load_text("1 2\n2 3\n1 3\n", 3).ok());
}

TEST(GraphFile, GoldenEdgeList) {
    auto graph = parse_from_file(kData + "/small_edgelist.txt");
    ASSERT_TRUE(graph.ok()) << graph.error().report();
    // Names in order of first appearance: 100 7 42 0 18446744073709551615 3
    EXPECT_EQ(graph.value().name_set().id_to_name(),
              (std::vector<utils::NodeName>{100, 7, 42, 0, 18446744073709551615ULL, 3}));
    EXPECT_EQ(adjacency(graph.value()), (Lists{{1, 2, 3}, {0, 2}, {0, 1, 2}, {0, 4}, {3}, {5}}));
    EXPECT_EQ(graph.value().m_cache(), 6u);
}

TEST(GraphFile, ExtensionChoosesTheFormat) {
    const std::string dir = ::testing::TempDir();
    const std::string text = "1 2\n3 4\n5 6\n";
    testing::write_file(dir + "/text_graph.lz4", text);
    testing::write_file(dir + "/text_graph.LZ4", text);
    testing::write_file(dir + "/.lz4", text);

    auto as_snapshot = parse_from_file(dir + "/text_graph.lz4");
    ASSERT_FALSE(as_snapshot.ok());
    EXPECT_EQ(as_snapshot.error().report(),
              "io error: LZ4 error: ERROR_frameType_unknown\n\nCaused by:\n"
              "    LZ4 error: ERROR_frameType_unknown");
    EXPECT_TRUE(parse_from_file(dir + "/text_graph.LZ4").ok());
    EXPECT_TRUE(parse_from_file(dir + "/.lz4").ok());

    auto snapshot = parse_from_file(kData + "/single_edge.bin.lz4");
    ASSERT_TRUE(snapshot.ok()) << snapshot.error().report();
    EXPECT_EQ(adjacency(snapshot.value()), (Lists{{1}, {0}}));
    EXPECT_EQ(snapshot.value().m_cache(), 1u);
}

TEST(GraphFile, OperatingSystemErrors) {
    EXPECT_EQ(error_of(parse_from_file("/nonexistent/graph.txt")),
              "No such file or directory (os error 2)");
    EXPECT_EQ(error_of(parse_from_file(::testing::TempDir())), "Is a directory (os error 21)");
}

// Edge list -> graph -> snapshot (map pairs out of id order, as a writer
// iterating a hash map would produce) -> graph gives the same graph.
TEST(GraphFile, SnapshotRoundTrip) {
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        text += std::to_string((i * 7919) % 1013 * 1000003ULL) + " " +
                std::to_string((i * 104729) % 997 * 999983ULL) + "\n";
    }
    text += "5 5\n";
    auto loaded = load_text(text);
    ASSERT_TRUE(loaded.ok());
    const Graph& graph = loaded.value();

    const auto& names = graph.name_set();
    std::vector<std::uint64_t> values{names.next_id(), names.next_id()};
    for (std::uint64_t id = names.next_id(); id-- > 0;) {
        values.push_back(names.id_to_name()[id]);
        values.push_back(id);
    }
    values.push_back(names.id_to_name().size());
    values.insert(values.end(), names.id_to_name().begin(), names.id_to_name().end());
    values.push_back(graph.node_count());
    for (utils::NodeId u = 0; u < graph.node_count(); ++u) {
        values.push_back(u);
        values.push_back(graph.degree(u));
        for (utils::NodeId v : graph.neighbours(u)) values.push_back(v);
    }
    values.push_back(graph.m_cache());

    for (bool checksum : {false, true}) {
        const std::string path = ::testing::TempDir() + "/round_trip.bin.lz4";
        testing::write_file(path,
                            testing::snapshot_frame(values, testing::with_checksum(checksum)));
        auto reloaded = parse_from_file(path);
        ASSERT_TRUE(reloaded.ok()) << reloaded.error().report();
        EXPECT_EQ(reloaded.value().name_set().id_to_name(), names.id_to_name());
        EXPECT_EQ(adjacency(reloaded.value()), adjacency(graph));
        EXPECT_EQ(reloaded.value().m_cache(), graph.m_cache());
        for (utils::NodeName name : names.id_to_name()) {
            EXPECT_EQ(reloaded.value().name_set().retrieve(name), names.retrieve(name));
        }
    }
}

std::vector<std::string>* g_events = nullptr;
void record_event(runtime::log::Level, std::string_view target, std::string_view message) {
    g_events->push_back(std::string(target) + " " + std::string(message));
}

TEST(GraphFile, LogsTheChosenFormat) {
    std::vector<std::string> events;
    g_events = &events;
    runtime::log::set_sink(record_event, runtime::log::Level::Debug);
    (void)parse_from_file(kData + "/small_edgelist.txt");
    (void)parse_from_file(kData + "/single_edge.bin.lz4");
    runtime::log::set_sink(nullptr, runtime::log::Level::Error);
    g_events = nullptr;
    EXPECT_EQ(events, (std::vector<std::string>{"orvanthel::base loading from edgelist",
                                                "orvanthel::base loading from bincode.lz4"}));
}

}  // namespace
}  // namespace quelmar::base
