#pragma once
// NameSet: the two-way mapping between node names (arbitrary 64-bit integers
// from input files) and node ids (dense indices 0 .. n-1, given in order of
// first request). Names are never removed and ids never change.
//
// Invariant: next_id() == size of the name map == id_to_name().size(), and
// the map sends id_to_name()[i] back to i for every id i.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include <absl/container/flat_hash_map.h>

namespace quelmar::utils {

using NodeName = std::uint64_t;

class NameSet {
public:
    using Map = absl::flat_hash_map<NodeName, std::uint64_t>;

    NameSet() = default;
    // Adopts a map and an id-ordered name array that already satisfy the
    // invariant (the snapshot reader checks it before calling this).
    NameSet(Map name_to_id, std::vector<NodeName> id_to_name)
        : name_to_id_(std::move(name_to_id)), id_to_name_(std::move(id_to_name)) {}

    // The name set whose ids are the positions in `id_to_name`; empty when a
    // name occurs twice. Names are inserted in prefetched batches, since with
    // random names every insertion misses the cache.
    static std::optional<NameSet> from_id_order(std::vector<NodeName> id_to_name) {
        constexpr std::size_t kBatch = 16;
        Map name_to_id;
        name_to_id.reserve(id_to_name.size());
        for (std::size_t begin = 0; begin < id_to_name.size(); begin += kBatch) {
            const std::size_t end = std::min(id_to_name.size(), begin + kBatch);
            for (std::size_t id = begin; id < end; ++id) name_to_id.prefetch(id_to_name[id]);
            for (std::size_t id = begin; id < end; ++id) {
                if (!name_to_id.try_emplace(id_to_name[id], id).second) return std::nullopt;
            }
        }
        return NameSet(std::move(name_to_id), std::move(id_to_name));
    }

    // Large: moved, never copied.
    NameSet(const NameSet&) = delete;
    NameSet& operator=(const NameSet&) = delete;
    NameSet(NameSet&&) noexcept = default;
    NameSet& operator=(NameSet&&) noexcept = default;

    std::uint64_t next_id() const noexcept { return id_to_name_.size(); }

    // The id of `name`, registering it with the next id the first time.
    std::uint64_t request(NodeName name) {
        auto [it, inserted] = name_to_id_.try_emplace(name, id_to_name_.size());
        if (inserted) id_to_name_.push_back(name);
        return it->second;
    }

    // Pure lookup: the id of `name` if registered.
    std::optional<std::uint64_t> retrieve(NodeName name) const {
        auto it = name_to_id_.find(name);
        if (it == name_to_id_.end()) return std::nullopt;
        return it->second;
    }

    // Hint that `name` will be requested or retrieved soon.
    void prefetch(NodeName name) const { name_to_id_.prefetch(name); }

    const Map& name_to_id() const noexcept { return name_to_id_; }
    const std::vector<NodeName>& id_to_name() const noexcept { return id_to_name_; }

private:
    Map name_to_id_;
    std::vector<NodeName> id_to_name_;
};

}  // namespace quelmar::utils
