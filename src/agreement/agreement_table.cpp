#include "src/agreement/agreement_table.h"

#include <algorithm>

#include "src/agreement/agreement.h"

namespace quelmar::agreement {
namespace {

runtime::Result<double> value_of(AgreementMeasure measure, const Contingency& table,
                                 const std::stop_token& stop, runtime::PassProgress& progress) {
    switch (measure) {
        case AgreementMeasure::Nmi: return nmi(table);
        case AgreementMeasure::NmiGeometric: return nmi(table, Normalisation::kGeometric);
        case AgreementMeasure::NmiMin: return nmi(table, Normalisation::kMin);
        case AgreementMeasure::NmiMax: return nmi(table, Normalisation::kMax);
        case AgreementMeasure::Ari: return ari(table);
        case AgreementMeasure::Vi: return vi(table);
        case AgreementMeasure::F1: return f1(table);
        case AgreementMeasure::Onmi: return onmi(table, stop, progress);
        case AgreementMeasure::Omega: return omega(table, stop, progress);
    }
    __builtin_unreachable();
}

}  // namespace

const AgreementDefinition* find_agreement_measure(std::string_view name) noexcept {
    for (const AgreementDefinition& row : kAgreementMeasures) {
        if (row.name == name) return &row;
    }
    return nullptr;
}

runtime::Result<std::vector<const AgreementDefinition*>> agreement_measures_from_names(
    std::span<const std::string_view> names) {
    std::vector<const AgreementDefinition*> rows;
    for (std::string_view name : names) {
        const AgreementDefinition* row = find_agreement_measure(name);
        if (!row) {
            std::string known;
            for (const AgreementDefinition& entry : kAgreementMeasures) {
                known += (known.empty() ? "" : ", ") + std::string(entry.name);
            }
            return runtime::Error("unknown agreement measure '" + std::string(name) +
                                  "'; known measures: " + known);
        }
        if (std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
    }
    return rows;
}

runtime::Result<std::vector<std::pair<std::string, double>>> measures_by_name(
    const Contingency& table, std::span<const std::string_view> names, std::stop_token stop,
    runtime::PassProgress& progress, bool only_where_apt) {
    runtime::Result<std::vector<const AgreementDefinition*>> rows =
        agreement_measures_from_names(names);
    if (!rows) return std::move(rows).error();
    const bool partitions = !table.a.overlap && !table.b.overlap;
    std::vector<std::pair<std::string, double>> values;
    for (const AgreementDefinition* row : rows.value()) {
        if (only_where_apt && !partitions && row->needs_partition) continue;
        runtime::Result<double> value = value_of(row->measure, table, stop, progress);
        if (!value.ok()) return std::move(value).error();
        values.emplace_back(std::string(row->name), *value);
    }
    return values;
}

}  // namespace quelmar::agreement
