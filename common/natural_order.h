#pragma once

#include <string_view>

namespace quorvane {

/// Orders names as file managers show them: runs of digits by their value (2 before 10),
/// other text without regard to ASCII letter case, and plain byte order to break ties, so
/// the order is total and the same on every machine.
bool NaturalLess(std::string_view a, std::string_view b);

/// Three-way form of NaturalLess: negative, zero (same bytes) or positive.
int NaturalCompare(std::string_view a, std::string_view b);

}  // namespace quorvane
