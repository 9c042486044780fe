#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The string keys of a dict literal, as keys compare (longer ones left
// out).
std::vector<std::string> literal_keys(TSNode dictionary, const PreciseKinds& k,
                                      std::string_view source);

// `"text"`, built by appending (g++ 12 warns wrongly of `"\"" + s + "\""`).
std::string quoted(std::string_view text);

// A character of a name (any byte of a non-ASCII one).
bool is_identifier_char(char c);

// Where the string whose quote (single, double, or a triple of either)
// stands at `at` ends: one past its closing quote, or the end of `text`.
std::size_t end_of_string(std::string_view text, std::size_t at);

// Whether the compacted expression `text` mentions the expression `bound`
// as a whole: `d` in `d`, `d.x`, `d[k]` and `f(d)`, not in `od`, `x.d` or
// the string `"d"`.
bool mentions(std::string_view text, std::string_view bound);

}  // namespace keyhound
