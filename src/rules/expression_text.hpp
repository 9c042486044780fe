#pragma once

#include <tree_sitter/api.h>

#include <string>
#include <string_view>

#include "syntax/node_access.hpp"
#include "syntax/node_text.hpp"

namespace keyhound {
namespace expression_text_detail {

inline bool is_layout(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\\' || c == '\f';
}

inline std::string without_layout(std::string_view text) {
  std::string compact;
  for (char c : text) {
    if (!is_layout(c)) compact += c;
  }
  return compact;
}

}  // namespace expression_text_detail

// The text of a node without any white space or line continuations, so that
// `d[ k ]` and `d[k]` name the same container and key.
inline std::string compact_text(TSNode node, std::string_view source) {
  return expression_text_detail::without_layout(node_text(node, source));
}

// The operator written between two operands, compacted the same way:
// "and", "in", "notin", ...
inline std::string operator_between(TSNode left, TSNode right, std::string_view source) {
  std::size_t from = end_byte(left);
  std::size_t to = start_byte(right);
  if (from >= to || from >= source.size()) return {};
  return expression_text_detail::without_layout(source.substr(from, to - from));
}

}  // namespace keyhound
