#pragma once

#include <cstddef>
#include <string_view>

namespace keyhound {

// How deep the arrays and objects of a JSON text (a message, a notebook)
// may nest. A JSON tree is built, written and taken apart by recursion, so
// a deeper text (a megabyte of `[`) would overflow the stack: it is
// refused unread.
inline constexpr std::size_t kDeepestNesting = 256;

// Whether the JSON text `text` nests arrays and objects deeper than
// `limit`, strings aside.
bool nests_deeper_than(std::string_view text, std::size_t limit);

}  // namespace keyhound
