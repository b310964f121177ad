#pragma once
// A double in the shortest decimal digits that read back as the same double,
// written out positionally (never with an exponent): 2 -> "2", -0.5 -> "-0.5",
// 1e21 -> "1000000000000000000000", 1e-7 -> "0.0000001". Infinities print as
// "inf" / "-inf", NaN as "NaN".

#include <string>

namespace quelmar::percentiles {

std::string shortest_decimal(double value);

}  // namespace quelmar::percentiles
