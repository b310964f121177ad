// compare_cells and match_cells (functions.h): the agreement measures and
// match tables of a contingency counted elsewhere (a Dask join, say).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "src/agreement/agreement_table.h"
#include "src/agreement/contingency.h"
#include "src/agreement/match_table.h"
#include "src/exposure/arguments.h"
#include "src/exposure/buffer_view.h"
#include "src/exposure/errors.h"
#include "src/exposure/interruptible.h"
#include "src/exposure/py_ref.h"
#include "src/exposure/tools/agreement/agreement_results.h"
#include "src/exposure/tools/arguments.h"
#include "src/exposure/tools/dask/cell_functions.h"
#include "src/terminal/progress_bar.h"

namespace quelmar::exposure::tools {
namespace {

constexpr ErrorPolicy kPlain = ErrorPolicy::kPlain;

constexpr std::size_t kCellArguments = 10;
const Signature compare_cells_signature{
    "compare_cells",
    {"universe", "a_ids", "a_sizes", "a_overlap", "b_ids", "b_sizes", "b_overlap", "cell_a",
     "cell_b", "cell_count", "names", "only_where_apt"}};
const Signature match_cells_signature{
    "match_cells",
    {"universe", "a_ids", "a_sizes", "a_overlap", "b_ids", "b_sizes", "b_overlap", "cell_a",
     "cell_b", "cell_count", "reverse"}};

// The arguments of a contingency, held (buffers stay valid) while the pass
// runs without the interpreter lock.
struct CellArguments {
    std::uint64_t universe = 0;
    BufferView a_ids, a_sizes, b_ids, b_sizes, cell_a, cell_b, cell_count;
    std::optional<agreement::OverlapWitness> a_overlap, b_overlap;

    runtime::Result<agreement::Contingency> contingency() const {
        if (cell_a.length() != cell_b.length() || cell_a.length() != cell_count.length()) {
            return runtime::Error("invalid contingency: cell columns of different lengths");
        }
        auto side = [](const BufferView& ids, const BufferView& sizes,
                       const std::optional<agreement::OverlapWitness>& overlap) {
            agreement::Contingency::Side made;
            made.ids.assign(ids.uint64s().begin(), ids.uint64s().end());
            made.sizes.assign(sizes.uint64s().begin(), sizes.uint64s().end());
            made.overlap = overlap;
            return made;
        };
        std::vector<agreement::ContingencyCell> cells(cell_a.length());
        for (std::size_t i = 0; i < cells.size(); ++i) {
            cells[i] = {cell_a.uint64s()[i], cell_b.uint64s()[i], cell_count.uint64s()[i]};
        }
        return agreement::Contingency::from_cells(universe, side(a_ids, a_sizes, a_overlap),
                                                  side(b_ids, b_sizes, b_overlap),
                                                  std::move(cells));
    }
};

// None, or (node, first cluster id, second cluster id).
bool overlap_argument(const char* name, PyObject* object,
                      std::optional<agreement::OverlapWitness>* out) {
    if (object == Py_None) return true;
    if (!PyTuple_Check(object) || PyTuple_GET_SIZE(object) != 3) {
        raise_argument_type_error(name, object, "tuple (node, first, second)");
        return false;
    }
    std::uint64_t values[3];
    for (Py_ssize_t i = 0; i < 3; ++i) {
        if (!u64_argument(name, PyTuple_GET_ITEM(object, i), &values[i])) return false;
    }
    *out = agreement::OverlapWitness{values[0], values[1], values[2]};
    return true;
}

bool cell_arguments(PyObject* const* bound, CellArguments* out) {
    constexpr auto kU64 = BufferView::Item::kUInt64;
    return u64_argument("universe", bound[0], &out->universe) &&
           out->a_ids.acquire(bound[1], "a_ids", kU64) &&
           out->a_sizes.acquire(bound[2], "a_sizes", kU64) &&
           overlap_argument("a_overlap", bound[3], &out->a_overlap) &&
           out->b_ids.acquire(bound[4], "b_ids", kU64) &&
           out->b_sizes.acquire(bound[5], "b_sizes", kU64) &&
           overlap_argument("b_overlap", bound[6], &out->b_overlap) &&
           out->cell_a.acquire(bound[7], "cell_a", kU64) &&
           out->cell_b.acquire(bound[8], "cell_b", kU64) &&
           out->cell_count.acquire(bound[9], "cell_count", kU64);
}

}  // namespace

PyObject* compare_cells(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[kCellArguments + 2];
        if (!bind_arguments(compare_cells_signature, args, kwargs, bound)) return nullptr;
        CellArguments cells;
        std::vector<std::string> names;
        if (!cell_arguments(bound, &cells) ||
            !text_sequence_argument("measures", bound[kCellArguments], &names)) {
            return nullptr;
        }
        const int only_where_apt = PyObject_IsTrue(bound[kCellArguments + 1]);
        if (only_where_apt < 0) return nullptr;
        const std::vector<std::string_view> wanted(names.begin(), names.end());

        runtime::Result<MeasureValues> values = run_interruptibly([&](std::stop_token stop) {
            return [&]() -> runtime::Result<MeasureValues> {
                terminal::ProgressBar bar;  // on standard error when it is a terminal
                runtime::Result<agreement::Contingency> table = cells.contingency();
                if (!table) return std::move(table).error();
                return agreement::measures_by_name(table.value(), wanted, stop, bar,
                                                   only_where_apt != 0);
            }();
        });
        if (!values) return raise_error(values.error(), kPlain);
        return measure_dict(values.value());
    });
}

PyObject* match_cells(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<kPlain>([=]() -> PyObject* {
        PyObject* bound[kCellArguments + 1];
        if (!bind_arguments(match_cells_signature, args, kwargs, bound)) return nullptr;
        CellArguments cells;
        if (!cell_arguments(bound, &cells)) return nullptr;
        const int reverse = PyObject_IsTrue(bound[kCellArguments]);
        if (reverse < 0) return nullptr;
        runtime::Result<agreement::MatchTable> made = run_interruptibly([&](std::stop_token) {
            return [&]() -> runtime::Result<agreement::MatchTable> {
                runtime::Result<agreement::Contingency> table = cells.contingency();
                if (!table) return std::move(table).error();
                return agreement::match_table(
                    table.value(),
                    reverse ? agreement::MatchDirection::kBToA : agreement::MatchDirection::kAToB);
            }();
        });
        if (!made) return raise_error(made.error(), kPlain);
        return match_columns(made.value());
    });
}

}  // namespace quelmar::exposure::tools
