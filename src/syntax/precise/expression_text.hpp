#pragma once

#include <tree_sitter/api.h>

#include <string>
#include <string_view>

namespace keyhound {

// The text of a node without any white space or line continuations, so that
// `d[ k ]` and `d[k]` name the same container and key.
std::string compact_text(TSNode node, std::string_view source);

// The operator written between two operands, compacted the same way:
// "and", "in", "notin", ...
std::string operator_between(TSNode left, TSNode right, std::string_view source);

}  // namespace keyhound
