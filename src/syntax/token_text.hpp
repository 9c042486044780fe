#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace keyhound {

// The node's text without the white space, line continuations and comments
// between its tokens (strings kept whole, as written): the same text however
// the code is laid out. Read lexically from the source and cut at `longest`
// bytes, so that a deeply nested lookup costs no more than a shallow one; a
// longer text ends in "..." and never inside a UTF-8 sequence.
std::string token_text(TSNode node, std::string_view source, std::size_t longest);

}  // namespace keyhound
