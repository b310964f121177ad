#include "src/quelmar/clustering_handle.h"

namespace quelmar {

std::string_view display_text(StatisticsType type) noexcept {
    switch (type) {
        case StatisticsType::Mcd: return "Mcd";
        case StatisticsType::Cpm: return "Cpm";
        case StatisticsType::Size: return "Size";
        case StatisticsType::Modularity: return "Modularity";
        case StatisticsType::DeviationTreeness: return "DeviationTreeness";
        case StatisticsType::Density: return "Density";
    }
    return {};
}

}  // namespace quelmar
