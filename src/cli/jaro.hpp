#pragma once

#include <string_view>

namespace keyhound {

// The Jaro similarity of two texts, compared character by character (UTF-8
// decoded): 1 for equal texts, 0 when no character matches.
double jaro_similarity(std::string_view a, std::string_view b);

}  // namespace keyhound
