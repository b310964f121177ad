// The published forms against the plain text they stand for: gzip (one
// member or several), header lines, commas and byte order marks load into
// exactly the graph and clustering of the plain file, cut into buffers and
// blocks of every size; bad forms fail naming the file's own line. One
// community per line loads exactly as its membership twin.

#include "src/base/published_text.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "src/base/community_loader.h"
#include "src/base/graph_loader.h"
#include "src/base/tests/graph_test_util.h"
#include "src/base/tests/test_pools.h"
#include "src/utils/gzip_source.h"

namespace quelmar::base {
namespace {

std::string gzip(const std::string& text, int level = 6) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
              Z_OK);
    std::string out(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Random edges over a few hundred names, some large, with weights after
// some lines.
std::string plain_edges(std::mt19937_64& rng, int lines, const char* separator) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        const auto a = rng() % 300, b = rng() % 7 == 0 ? rng() : rng() % 300;
        text += std::to_string(a) + separator + std::to_string(b);
        if (i % 5 == 0) text += std::string(separator) + "0.5";
        text += "\n";
    }
    return text;
}

struct Loaded {
    std::vector<std::vector<utils::NodeId>> adjacency;
    std::vector<std::uint64_t> names;  // of ids 0, 1, ..., through the name set
    std::uint64_t edges = 0;
    bool operator==(const Loaded&) const = default;
};

runtime::Result<Loaded> load_graph(const std::string& bytes, std::size_t piece, int round) {
    utils::MemorySource source(bytes, piece);
    PublishedText text(source);
    auto graph = parse_edgelist_from_reader(text, utils::TaskMonitor::unwatched(), utils::kMaxNodes,
                                            testing::cut_load(round, 64 + round * 7, 16 + round));
    if (!graph) return text.in_file(std::move(graph).error());
    Loaded loaded{testing::adjacency(graph.value()), {}, graph->m_cache()};
    for (std::uint64_t name = 0; name < 300; ++name) {
        loaded.names.push_back(graph->name_set().retrieve(name).value_or(~0ULL));
    }
    return loaded;
}

TEST(PublishedText, EveryFormLoadsTheGraphOfThePlainText) {
    std::mt19937_64 rng(5);
    for (int round = 0; round < 6; ++round) {
        const std::string tabs = plain_edges(rng, 400, "\t");
        std::string spaces = tabs, commas = tabs, comma_spaces;
        for (char& c : spaces) c = c == '\t' ? ' ' : c;
        for (char& c : commas) c = c == '\t' ? ',' : c;
        for (char c : tabs) comma_spaces += c == '\t' ? std::string(", ") : std::string(1, c);
        const std::string header =
            "# Undirected graph: a.txt\n  % KONECT\n#\n# FromNodeId\tToNodeId\n";
        const std::string half = tabs.substr(0, tabs.find('\n', tabs.size() / 2) + 1);
        const std::vector<std::string> forms = {
            header + tabs,
            "\xEF\xBB\xBF" + header + spaces,
            "source,target,weight\n" + commas,
            "# made by hand\nsource, target\n" + comma_spaces,
            gzip(header + tabs),
            gzip(half, 1) + gzip(tabs.substr(half.size()), 9),  // two members
            gzip("from,to\r\n" + commas, 0),
        };
        const auto plain = load_graph(tabs, 1 << 20, round);
        ASSERT_TRUE(plain.ok());
        for (std::size_t f = 0; f < forms.size(); ++f) {
            const std::size_t piece = 1 + rng() % 200;
            const auto form = load_graph(forms[f], piece, round);
            ASSERT_TRUE(form.ok()) << "form " << f << ": " << form.error().message();
            EXPECT_EQ(form.value(), plain.value()) << "form " << f << ", round " << round;
        }
    }
}

TEST(PublishedText, FailuresNameTheLineOfTheFile) {
    struct Case {
        std::string text;
        std::string message;
        std::uint64_t line;
    };
    const std::vector<Case> cases = {
        {"# a\n# b\n1 2\n# late\n", "invalid digit found in string", 4},
        {"% a\n1 2\n3\n", "missing to", 3},
        {"source,target\n1,2\nx,3\n", "invalid digit found in string", 3},
        // Not a header: a number starts it, or it has no comma.
        {"1,x\n", "invalid digit found in string", 1},
        {"source target\n1 2\n", "invalid digit found in string", 1},
        {"# only a header\n\n", "missing from", 2},
    };
    for (const Case& c : cases) {
        for (const std::string& bytes : {c.text, gzip(c.text)}) {
            const auto loaded = load_graph(bytes, 3, 0);
            ASSERT_FALSE(loaded.ok()) << c.text;
            EXPECT_EQ(loaded.error().message(), c.message) << c.text;
            ASSERT_TRUE(loaded.error().position().has_value());
            EXPECT_EQ(loaded.error().position()->line, c.line) << c.text;
        }
    }
    // Headers alone, or nothing, are the empty graph.
    for (const std::string text : {"", "# nothing\n% here", "source,target\n"}) {
        const auto loaded = load_graph(text, 2, 1);
        ASSERT_TRUE(loaded.ok()) << text;
        EXPECT_TRUE(loaded->adjacency.empty());
    }
}

TEST(PublishedText, LongCommentLinesAreSkippedPieceByPiece) {
    const std::string comment = "#" + std::string(3 * PublishedText::kHeaderLookahead, 'x') + "\n";
    const auto loaded = load_graph(comment + comment + "1 2\n", 1000, 2);
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded->edges, 1u);
}

TEST(GzipSource, CutOrCorruptDataFails) {
    const std::string text = "1 2\n2 3\n";
    const std::string packed = gzip(text);
    for (std::size_t cut : {std::size_t{3}, packed.size() / 2, packed.size() - 1}) {
        const auto loaded = load_graph(packed.substr(0, cut), 1, 0);
        ASSERT_FALSE(loaded.ok()) << cut;
        EXPECT_EQ(loaded.error().message(), utils::kTruncatedGzip);
        EXPECT_FALSE(loaded.error().position().has_value());
    }
    std::string corrupt = packed;
    corrupt[corrupt.size() - 6] ^= 0x55;  // the CRC
    ASSERT_FALSE(load_graph(corrupt, 7, 0).ok());
    EXPECT_EQ(load_graph(corrupt, 7, 0).error().message().rfind(utils::kInvalidGzip, 0), 0u);
    // Bytes after the last member that begin no new one.
    EXPECT_FALSE(load_graph(packed + "junk", 5, 0).ok());
}

// Names 0..49 of a graph on a ring.
Graph ring() {
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += std::to_string(i) + " " + std::to_string((i + 1) % 50) + "\n";
    utils::MemorySource source(text);
    return std::move(parse_edgelist_from_reader(source)).value();
}

struct Read {
    std::vector<ClusterId> ids;
    std::vector<std::uint64_t> starts;
    std::vector<utils::NodeId> members;
    std::uint64_t unknown = 0, dropped = 0;
    std::string error;
    std::uint64_t line = 0;
    bool operator==(const Read&) const = default;
};

Read read_of(runtime::Result<Clustering> result) {
    Read read;
    if (!result) {
        read.error = result.error().message();
        read.line = result.error().position() ? result.error().position()->line : 0;
        return read;
    }
    read.ids = result->ids;
    read.starts = result->starts;
    read.members = result->members;
    read.unknown = result->unknown_memberships;
    read.dropped = result->dropped_singletons;
    return read;
}

TEST(CommunityLoader, EqualsItsMembershipTwin) {
    const Graph graph = ring();
    std::mt19937_64 rng(11);
    for (int round = 0; round < 40; ++round) {
        std::string communities, memberships;
        const int lines = 1 + rng() % 30;
        for (int k = 0; k < lines; ++k) {
            const int size = 1 + rng() % (k % 7 == 0 ? 60 : 6);
            for (int j = 0; j < size; ++j) {
                // Repeats, and now and then a name the graph lacks.
                const std::uint64_t name = rng() % 97 == 0 ? 1000 + rng() % 3 : rng() % 50;
                communities += (j ? (rng() % 2 ? "\t" : "  ") : "") + std::to_string(name);
                memberships += std::to_string(name) + " " + std::to_string(k) + "\n";
            }
            communities += rng() % 5 == 0 ? " \r\n" : "\n";
        }
        for (const bool strict : {false, true}) {
            const auto options = testing::cut_load(round, 8 + rng() % 100, 1 + rng() % 40);
            utils::MemorySource as_lines(communities, 1 + rng() % 50), as_pairs(memberships);
            const Read expected =
                read_of(Clustering::parse_from_reader(graph, as_pairs, {}, strict));
            Read got = read_of(parse_communities_from_reader(graph, as_lines, options, strict));
            // Lines differ between the two files; the failure does not.
            if (!expected.error.empty()) got.line = expected.line;
            EXPECT_EQ(got, expected) << communities;
        }
    }
}

TEST(CommunityLoader, BadLinesNameTheirLine) {
    const Graph graph = ring();
    auto failure = [&](const std::string& text) {
        utils::MemorySource source(text);
        PublishedText published(source);
        auto loaded = parse_communities_from_reader(graph, published, testing::cut_load(1, 16, 4));
        EXPECT_FALSE(loaded.ok()) << text;
        if (loaded) return std::pair<std::string, std::uint64_t>{};
        const runtime::Error error = published.in_file(std::move(loaded).error());
        return std::pair{error.message() + " \"" + error.position()->token + "\"",
                         error.position()->line};
    };
    using Failure = std::pair<std::string, std::uint64_t>;
    EXPECT_EQ(failure("1 2\n\n3 4\n"), (Failure{"missing node_name \"\"", 2}));
    EXPECT_EQ(failure("# h\n1 2\n3 4x\n"), (Failure{"invalid digit found in string \"4x\"", 3}));
    EXPECT_EQ(failure("1 2\n3 \xFF\n"), (Failure{"stream did not contain valid UTF-8 \"\"", 2}));
    EXPECT_EQ(failure("%\n1 2\n3 900 901\n"),
              (Failure{"node 901 requested in cluster 1 not found in graph, and is not singleton "
                       "\"901\"",
                       3}));
}

TEST(CommunityLoader, LinesLongerThanTheBufferStayWhole) {
    const Graph graph = ring();
    std::string line;
    for (int i = 0; i < 50; ++i) line += std::to_string(i) + "\xC2\xA0";  // no-break spaces
    const std::string text = "3 4\n" + line + "\n7 8";
    utils::MemorySource source(text);
    auto loaded = parse_communities_from_reader(graph, source, testing::cut_load(0, 16, 8));
    ASSERT_TRUE(loaded.ok()) << loaded.error().message();
    ASSERT_EQ(loaded->size(), 3u);
    EXPECT_EQ(loaded->members_of(1).size(), 50u);
}

}  // namespace
}  // namespace quelmar::base
