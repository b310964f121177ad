// Times the NameSet's table against absl::flat_hash_map<uint64_t, uint64_t>
// side by side in one run, on N random names:
//   * building from names in id order (NameSet::from_id_order against the
//     map reserved for N and filled in prefetched batches, as NameSet did);
//   * M lookups of random present names and M of absent ones, one after
//     another and with the names 16 lookups ahead prefetched, as the
//     clustering loader does.
// Prints the best time of R rounds for each, the ratio of the map's time to
// the table's, and the memory of each in bytes per name (the table's slots;
// the map's slots and control bytes).
//
//   quelmar_name_table_bench [--names N] [--lookups M] [--repeat R]

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "src/utils/name_set.h"

namespace {

using namespace quelmar;
using Clock = std::chrono::steady_clock;
using Map = absl::flat_hash_map<std::uint64_t, std::uint64_t>;

constexpr std::size_t kLookahead = 16;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

Map map_from_id_order(const std::vector<std::uint64_t>& names) {
    constexpr std::size_t kBatch = 16;
    Map map;
    map.reserve(names.size());
    for (std::size_t begin = 0; begin < names.size(); begin += kBatch) {
        const std::size_t end = std::min(names.size(), begin + kBatch);
        for (std::size_t id = begin; id < end; ++id) map.prefetch(names[id]);
        for (std::size_t id = begin; id < end; ++id) {
            if (!map.try_emplace(names[id], id).second) fail("repeated name");
        }
    }
    return map;
}

// Sum of the ids found plus the count of names missing: both tables must
// give the same.
template <class Find, class Prefetch>
std::uint64_t look_up(const std::vector<std::uint64_t>& queries, bool ahead, Find&& find,
                      Prefetch&& prefetch) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < queries.size(); ++i) {
        if (ahead && i + kLookahead < queries.size()) prefetch(queries[i + kLookahead]);
        const std::optional<std::uint64_t> id = find(queries[i]);
        sum += id ? *id : 1;
    }
    return sum;
}

struct Best {
    double table = 1e300;
    double map = 1e300;
    void add(double table_seconds, double map_seconds) {
        table = std::min(table, table_seconds);
        map = std::min(map, map_seconds);
    }
    void print(const char* what, std::size_t count) const {
        std::printf("%-28s table %7.1f ns   map %7.1f ns   map/table %.2fx\n", what,
                    table / count * 1e9, map / count * 1e9, map / table);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::size_t n = 2'500'000, m = 10'000'000;
    int repeat = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--names")) n = std::stoull(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--lookups")) m = std::stoull(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--repeat")) repeat = std::stoi(argv[i + 1]);
        else fail("usage: quelmar_name_table_bench [--names N] [--lookups M] [--repeat R]");
    }

    std::mt19937_64 random(12345);
    std::vector<std::uint64_t> names(n);
    for (auto& name : names) name = random();
    std::vector<std::uint64_t> present(m), absent(m);
    for (std::size_t i = 0; i < m; ++i) {
        present[i] = n > 0 ? names[random() % n] : 0;
        absent[i] = random();
    }

    Best build, lookups[2][2];  // [absent][with lookahead]
    std::size_t table_bytes = 0, map_bytes = 0;
    for (int round = 0; round < repeat; ++round) {
        std::vector<std::uint64_t> copy = names;
        auto start = Clock::now();
        std::optional<utils::NameSet> set = utils::NameSet::from_id_order(std::move(copy));
        const double table_seconds = seconds_since(start);
        if (!set) fail("repeated name");
        start = Clock::now();
        const Map map = map_from_id_order(names);
        build.add(table_seconds, seconds_since(start));
        table_bytes = set->bytes() - set->id_to_name().capacity() * sizeof(std::uint64_t);
        map_bytes = map.capacity() * (sizeof(Map::slot_type) + 1);

        const auto find_in_set = [&](std::uint64_t name) { return set->retrieve(name); };
        const auto prefetch_in_set = [&](std::uint64_t name) { set->prefetch(name); };
        const auto find_in_map = [&](std::uint64_t name) -> std::optional<std::uint64_t> {
            const auto it = map.find(name);
            if (it == map.end()) return std::nullopt;
            return it->second;
        };
        const auto prefetch_in_map = [&](std::uint64_t name) { map.prefetch(name); };
        for (int missing : {0, 1}) {
            const std::vector<std::uint64_t>& queries = missing ? absent : present;
            for (int with_lookahead : {0, 1}) {
                start = Clock::now();
                const std::uint64_t table_sum =
                    look_up(queries, with_lookahead, find_in_set, prefetch_in_set);
                const double table_seconds = seconds_since(start);
                start = Clock::now();
                const std::uint64_t map_sum =
                    look_up(queries, with_lookahead, find_in_map, prefetch_in_map);
                lookups[missing][with_lookahead].add(table_seconds, seconds_since(start));
                if (table_sum != map_sum) fail("the table and the map disagree");
            }
        }
    }

    std::printf("names %zu, lookups %zu of present and of absent names, best of %d\n", n, m,
                repeat);
    build.print("build from id order /name", n);
    lookups[0][0].print("present /lookup", m);
    lookups[0][1].print("present, 16 ahead /lookup", m);
    lookups[1][0].print("absent /lookup", m);
    lookups[1][1].print("absent, 16 ahead /lookup", m);
    std::printf("%-28s table %7.1f B    map %7.1f B    map/table %.2fx\n", "memory /name",
                static_cast<double>(table_bytes) / n, static_cast<double>(map_bytes) / n,
                static_cast<double>(map_bytes) / table_bytes);
    return 0;
}
