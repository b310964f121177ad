// The edge-list loader against a plainly correct model (ordered map and sets)
// on random small inputs written in every form the format allows, with an
// occasional faulty line whose expected message is known, through small
// buffers and blocks on pools of one and of three workers.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "src/base/graph_loader.h"
#include "src/base/tests/graph_test_util.h"
#include "src/base/tests/test_pools.h"

namespace quelmar::base {
namespace {

struct Model {
    std::vector<utils::NodeName> names;  // in order of first appearance
    std::map<utils::NodeName, utils::NodeId> ids;
    std::vector<std::set<utils::NodeId>> lists;

    utils::NodeId request(utils::NodeName name) {
        auto [it, inserted] = ids.emplace(name, static_cast<utils::NodeId>(names.size()));
        if (inserted) {
            names.push_back(name);
            lists.emplace_back();
        }
        return it->second;
    }
    void add(utils::NodeName from, utils::NodeName to) {
        const utils::NodeId u = request(from);
        const utils::NodeId v = request(to);
        lists[u].insert(v);
        lists[v].insert(u);
    }
};

class InputWriter {
public:
    explicit InputWriter(std::uint64_t seed) : random_(seed) {}

    std::size_t pick(std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_);
    }
    bool chance(int in) { return pick(in) == 0; }

    std::string space() {
        static const char* spaces[] = {" ",       " ",  " ",        "\t",           "  ",
                                       "\v",      "\f", "\xC2\xA0", "\xE2\x80\x83", "\xE3\x80\x80",
                                       "\xC2\x85"};
        return spaces[pick(std::size(spaces))];
    }

    std::string name_token(utils::NodeName name) {
        std::string text = std::to_string(name);
        if (chance(8)) text = std::string(pick(4), '0') + text;
        if (chance(300)) text = std::string(70000, '0') + text;  // longer than the read buffer
        if (chance(8)) text = "+" + text;
        return text;
    }

    std::string valid_line(utils::NodeName from, utils::NodeName to) {
        std::string line;
        if (chance(4)) line += space();
        line += name_token(from) + space() + name_token(to);
        if (chance(5)) {
            line += space() + (pick(2) ? "3.5" : "f\xC3\xA9o");
            if (chance(2)) line += space();
        }
        if (chance(300)) line += " " + std::string(70000, 'x');
        if (chance(4)) line += space();
        return line;
    }

    // A faulty line and the loader's message for it.
    std::pair<std::string, std::string> faulty_line() {
        switch (pick(6)) {
            case 0: return {"", "missing from"};
            case 1: return {space() + space(), "missing from"};
            case 2: return {"12" + space(), "missing to"};
            case 3: return {"12" + space() + "-3", "invalid digit found in string"};
            case 4: return {"18446744073709551616 1", "number too large to fit in target type"};
            default: return {"1 2 \xC3", "stream did not contain valid UTF-8"};
        }
    }

    std::mt19937_64& random() { return random_; }

private:
    std::mt19937_64 random_;
};

TEST(EdgeListModel, RandomInputsMatchTheModel) {
    InputWriter writer(20240611);
    for (int round = 0; round < 400; ++round) {
        // A small pool makes repeats, reversals and self-loops common.
        std::vector<utils::NodeName> pool;
        const std::size_t pool_size = 1 + writer.pick(12);
        for (std::size_t i = 0; i < pool_size; ++i) {
            const std::size_t kind = writer.pick(4);
            pool.push_back(kind == 0   ? 0
                           : kind == 1 ? 18446744073709551615ULL
                                       : writer.random()() % 1000);
        }
        Model model;
        std::string text;
        std::string expected_error;
        const std::size_t lines = writer.pick(40);
        for (std::size_t i = 0; i < lines; ++i) {
            if (expected_error.empty() && writer.chance(30)) {
                auto [line, message] = writer.faulty_line();
                text += line;
                expected_error = message;
            } else {
                const utils::NodeName from = pool[writer.pick(pool.size())];
                const utils::NodeName to = pool[writer.pick(pool.size())];
                text += writer.valid_line(from, to);
                if (expected_error.empty()) model.add(from, to);
            }
            const bool last = i + 1 == lines;
            // The last line may end without a line feed, unless it is empty.
            if (!last || writer.chance(2) || text.empty() || text.back() == '\n') {
                text += writer.chance(4) ? "\r\n" : "\n";
            }
        }

        utils::MemorySource source(text, 1 + writer.pick(100));
        auto graph =
            parse_edgelist_from_reader(source, utils::TaskMonitor::unwatched(), utils::kMaxNodes,
                                       testing::cut_load(round, 8 + writer.pick(64),
                                                         1 + writer.pick(32), 1 + writer.pick(48)));
        if (!expected_error.empty()) {
            ASSERT_FALSE(graph.ok()) << text;
            EXPECT_EQ(graph.error().message(), expected_error) << text;
            continue;
        }
        ASSERT_TRUE(graph.ok()) << graph.error().message() << "\n" << text;
        EXPECT_EQ(graph.value().name_set().id_to_name(), model.names);
        std::vector<std::vector<utils::NodeId>> expected_lists;
        std::uint64_t entries = 0;
        for (const auto& list : model.lists) {
            expected_lists.emplace_back(list.begin(), list.end());
            entries += list.size();
        }
        EXPECT_EQ(testing::adjacency(graph.value()), expected_lists) << text;
        EXPECT_EQ(graph.value().m_cache(), entries / 2);
    }
}

}  // namespace
}  // namespace quelmar::base
