#include "syntax/precise/expression_text.hpp"

#include "syntax/node_text.hpp"

namespace keyhound {
namespace {

bool is_layout(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\\' || c == '\f';
}

std::string without_layout(std::string_view text) {
  std::string compact;
  for (char c : text) {
    if (!is_layout(c)) compact += c;
  }
  return compact;
}

}  // namespace

std::string compact_text(TSNode node, std::string_view source) {
  return without_layout(node_text(node, source));
}

std::string operator_between(TSNode left, TSNode right, std::string_view source) {
  std::size_t from = ts_node_end_byte(left);
  std::size_t to = ts_node_start_byte(right);
  if (from >= to || from >= source.size()) return {};
  return without_layout(source.substr(from, to - from));
}

}  // namespace keyhound
