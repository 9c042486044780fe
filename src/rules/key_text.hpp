#pragma once

#include <tree_sitter/api.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "rules/precise_kinds.hpp"

namespace keyhound {

// Containers and keys are compared by their text: compacted (no layout),
// a plain string key in one spelling whatever its quotes ('a' is "a").
// Texts longer than this are never compared (rare, and costly on hostile
// input): such a container or key is never known.
inline constexpr uint32_t kLongestKeyText = 256;

bool is_short_text(TSNode node);

// The text a key is compared by.
std::string key_text(TSNode index, const PreciseKinds& k, std::string_view source);

// `"text"`, built by appending (g++ 12 warns wrongly of `"\"" + s + "\""`).
std::string quoted(std::string_view text);

// Whether the compacted expression `text` mentions the expression `bound`
// as a whole: `d` in `d`, `d.x`, `d[k]` and `f(d)`, not in `od`, `x.d` or
// the string `"d"`.
bool mentions(std::string_view text, std::string_view bound);

}  // namespace keyhound
