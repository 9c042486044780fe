#pragma once

#include <cstdint>
#include <string_view>

#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

// A point of a text: its 0-based row and the byte offset within that row.
struct TextPoint {
  uint32_t row = 0;
  uint32_t byte_column = 0;
};

// One replacement in a text, in bytes and in points: what lies between
// `start` and `old_end` became what lies between `start` and `new_end`.
struct TextEdit {
  uint32_t start_byte = 0;
  uint32_t old_end_byte = 0;
  uint32_t new_end_byte = 0;
  TextPoint start;
  TextPoint old_end;
  TextPoint new_end;
};

// The syntax tree of a text that changes, kept between its versions so that
// each new version is parsed incrementally: edit() tells the tree what
// changed, reparse() then reuses every subtree the edits left alone. Its
// memory is the process's own, not a parse arena's, since it lives across
// parses. One thread uses it; snapshot() gives another thread a tree of its
// own.
class EditableTree {
 public:
  explicit EditableTree(std::string_view source);

  void edit(const TextEdit& edit);
  void reparse(std::string_view source);

  // A copy of the current tree (cheap: it shares the nodes).
  Tree snapshot() const;
  TSNode root() const { return root_of(tree_); }

 private:
  Parser parser_;
  Tree tree_;
};

}  // namespace keyhound
