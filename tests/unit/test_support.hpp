#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <tree_sitter/api.h>

#include "server/open_document.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound::testing {

// A test name made of the letters and digits of `text`, prefixed with the
// case's index so that names stay unique: gtest names must be identifiers.
std::string case_name(std::size_t index, std::string_view text);

// A parsed Python text that keeps its tree and text alive for a test.
class ParsedSource {
 public:
  explicit ParsedSource(std::string text);
  TSNode root() const { return ts_tree_root_node(tree_.get()); }
  std::string_view text() const { return text_; }
  // The first node, in pre-order, whose kind is `kind` (e.g. "subscript").
  TSNode first(std::string_view kind) const;
  // All nodes of that kind, in pre-order.
  std::vector<TSNode> all(std::string_view kind) const;
  std::string_view text_of(TSNode node) const;

 private:
  std::string text_;
  Tree tree_;
};

// Replaces the bytes [from, to) of an ASCII document's text with `text`,
// as an editor's incremental change (a byte column is then a character in
// either encoding).
void replace_ascii(OpenDocument& document, std::size_t from, std::size_t to, std::string text,
                   PositionEncoding encoding);

}  // namespace keyhound::testing
