#pragma once
// NameSet: the two-way mapping between node names (arbitrary 64-bit integers
// from input files) and node ids (dense indices 0 .. n-1, given in order of
// first request). Names are never removed and ids never change. Ids stay
// below kMaxNodes (src/utils/node_id.h): a set holds at most 2^32 names.
//
// Invariant: next_id() == the table's size == id_to_name().size(), and the
// table sends id_to_name()[i] back to i for every id i. Names and ids being a
// bijection, id_to_name() is the whole content; the table (name_table.h) only
// answers lookups.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "runtime/worker_pool.h"

#include "src/utils/name_table.h"
#include "src/utils/node_id.h"

namespace quelmar::utils {

using NodeName = std::uint64_t;

class NameSet {
public:
    NameSet() = default;

    // The name set whose ids are the positions in `id_to_name`; empty when a
    // name occurs twice. The table is sized for the names plus `more` names
    // requested later, so those do not make it grow. It is filled on `pool`
    // (null: this thread) while on_caller() runs on the calling thread.
    static std::optional<NameSet> from_id_order(std::vector<NodeName> id_to_name,
                                                std::size_t more = 0,
                                                runtime::WorkerPool* pool = nullptr,
                                                const std::function<void()>& on_caller = {});

    // Large: moved, never copied.
    NameSet(const NameSet&) = delete;
    NameSet& operator=(const NameSet&) = delete;
    NameSet(NameSet&&) noexcept = default;
    NameSet& operator=(NameSet&&) noexcept = default;

    std::uint64_t next_id() const noexcept { return id_to_name_.size(); }

    // The id of `name`, registering it with the next id the first time.
    std::uint64_t request(NodeName name) {
        const auto [id, inserted] =
            name_to_id_.insert(name, static_cast<std::uint32_t>(id_to_name_.size()));
        if (inserted) id_to_name_.push_back(name);
        return id;
    }

    // Pure lookup: the id of `name` if registered.
    std::optional<std::uint64_t> retrieve(NodeName name) const {
        const auto id = name_to_id_.find(name);
        if (!id) return std::nullopt;
        return *id;
    }

    // Hint that `name` will be requested or retrieved soon.
    void prefetch(NodeName name) const { name_to_id_.prefetch(name); }

    const std::vector<NodeName>& id_to_name() const noexcept { return id_to_name_; }

    // Memory held by the table and the name array.
    std::uint64_t bytes() const noexcept {
        return name_to_id_.bytes() + id_to_name_.capacity() * sizeof(NodeName);
    }

private:
    NameTable name_to_id_;
    std::vector<NodeName> id_to_name_;
};

}  // namespace quelmar::utils
