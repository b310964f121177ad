#pragma once
// The graph builder's table from node name to id, made for loading large
// edge lists with random names on the worker pool. One table that large
// would miss the cache on every lookup and need locks; instead names are
// split by hash into shards (src/base/name_index.h), small enough to stay in a
// core's cache while it works through one, and each shard is worked by one
// thread at a time.
//
// Names arrive in rounds, each the names of consecutive lines (from and to
// alternately) in parts (src/base/name_part.h) that come with each name's
// shard and each shard's count, noted by their reader, and usually with the
// names already turned into their keys. The parts are laid
// out by shard, keeping positions in order; the shards then look their names
// up side by side, claiming new ones and counting them per part. New names
// get their ids by rank of first position (a prefix sum over the parts), and
// the ids are gathered back into position order part by part, each part
// reading its stretch of every shard in sequence; a repeat of a name new in
// the round takes its id in a last pass over the part's few such positions.
// The second end of a line naming one node twice takes no entry: it copies
// the first end's id. No step writes to a random place of the round:
// rounds can be far larger than the caches, so that each shard's table is
// loaded once per round. Ids follow the order of first appearance whatever
// the pool and the parts, and the table's seed never shows in results.
// Without a pool, names are simply looked up in order.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "runtime/cache_line.h"
#include "runtime/parallel.h"
#include "runtime/worker_pool.h"
#include "src/base/name_index.h"
#include "src/base/name_part.h"
#include "src/utils/mapped_vector.h"
#include "src/utils/name_set.h"
#include "src/utils/node_id.h"

namespace quelmar::base {

class NameShards {
public:
    // Tallies stop at `max_tally` (then tally_overflowed() says so).
    explicit NameShards(std::uint32_t max_tally);

    // Writes the node id of each of one round's names to `ids` (as long as
    // `names`). New names get the ids from names_by_id.size() on, in order
    // of first position, and are appended to names_by_id. Every edge end is
    // tallied (a line naming one node twice counts once). False, with `ids`
    // unspecified, when more than `max_nodes` names would exist. Runs on
    // `pool` (null: this thread).
    bool resolve(std::span<const utils::NodeName> names, std::span<utils::NodeId> ids,
                 std::uint64_t max_nodes, std::vector<utils::NodeName>& names_by_id,
                 runtime::WorkerPool* pool);
    // The same for a round given in parts, one after another; `ids` is as
    // long as all of them.
    bool resolve(std::span<const NamePart> parts, std::span<utils::NodeId> ids,
                 std::uint64_t max_nodes, std::vector<utils::NodeName>& names_by_id,
                 runtime::WorkerPool* pool);

    bool tally_overflowed() const;
    // Calls visit(id, tally) for every name, the shards side by side on
    // `pool`, and releases the tables as they are done.
    template <class Visit>
    void drain(Visit&& visit, runtime::WorkerPool* pool) {
        runtime::parallel_for(pool, shards_.size(), [&](std::size_t s) {
            shards_[s].for_each([&](const NameIndex::Slot& slot) { visit(slot.id, slot.tag - 1); });
            shards_[s].clear();
        });
    }
    // Releases the tables' memory.
    void clear();

private:
    // What claim found for a name of the round, in its shard's stretch.
    // `value` is the name's id when it was known before the round, or the
    // entry of its first position when it is new (and for that entry
    // itself, its id once ranked).
    struct Claim {
        std::uint32_t value;
        std::uint32_t kind;
    };

    bool resolve_in_order(std::span<const NamePart> parts, std::span<utils::NodeId> ids,
                          std::uint64_t max_nodes, std::vector<utils::NodeName>& names_by_id);
    void partition(std::span<const NamePart> parts, runtime::WorkerPool* pool);
    void fetch_ahead(std::uint64_t entry) const;
    void claim(std::size_t shard);
    std::uint64_t rank_new_names(std::size_t parts, std::uint64_t first_id);
    void gather(std::size_t part, const NamePart& names, std::span<utils::NodeId> ids,
                std::vector<utils::NodeName>& names_by_id);
    void point_repeats(std::size_t part, std::span<utils::NodeId> ids) const;
    void settle_new_names(std::size_t shard);
    void tally(std::size_t shard, NameIndex::Slot& slot);

    std::uint32_t max_tally_;
    std::vector<NameIndex> shards_;
    std::vector<std::uint8_t> overflowed_;  // per shard
    // An entry of the round: its name's key, sorted by shard, until claim
    // looks it up and writes what it found in its place (a new name is read
    // back from names_by_id): one array instead of two, the largest scratch
    // of a round.
    union Entry {
        NameIndex::Key key;
        Claim claim;
    };
    static_assert(sizeof(Entry) == sizeof(utils::NodeName));

    // Scratch of a round; [p * shards + s] is part p's stretch of shard s.
    // The large arrays are mapped, so that clear() gives their pages back to
    // the system rather than to the heap, where they would stay resident
    // while the graph is built.
    utils::MappedVector<Entry> entries_;
    std::vector<std::uint64_t> shard_start_;     // shard s: entries [start[s], start[s + 1])
    std::vector<std::uint64_t> part_start_;      // where each stretch starts
    std::vector<std::uint64_t> first_position_;  // per part, and the round's end
    // Marks of a round given whole, cut into parts here.
    utils::MappedVector<std::uint8_t> shard_of_position_;
    std::vector<ShardCounts> part_counts_;
    // Per shard: the slots of its new names, in order of claim.
    std::vector<runtime::OwnLine<std::vector<std::uint32_t>>> new_slots_;
    std::vector<std::uint32_t> new_names_;     // new names in each stretch
    std::vector<std::uint64_t> first_new_id_;  // per part
    // Per part: the positions whose ids are, after gather, the entry of
    // their name's first position.
    std::vector<runtime::OwnLine<std::vector<std::uint32_t>>> pending_;
};

}  // namespace quelmar::base
