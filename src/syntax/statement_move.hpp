#pragma once

#include <tree_sitter/api.h>

#include <cstdint>
#include <string_view>

namespace keyhound {

// Where a node starts: its byte, row and column.
struct NodePlace {
  uint32_t byte = 0;
  uint32_t row = 0;
  uint32_t column = 0;
  bool operator==(const NodePlace&) const = default;
};

NodePlace place_of(TSNode node);

// A stretch of a source as offsets, which outlive the text they were taken
// from (a view would not).
struct SourceSpan {
  uint32_t offset = 0;
  uint32_t length = 0;
};

// `text` is a view into `source`.
inline SourceSpan span_in(std::string_view text, std::string_view source) {
  return {static_cast<uint32_t>(text.data() - source.data()), static_cast<uint32_t>(text.size())};
}

// A top-level statement that an edit left alone: the same subtree, which
// the incremental parse kept in the new tree, moved by the edits above it.
// Its nodes are the nodes of the old tree moved by as many bytes and rows;
// a statement whose column changed is walked again, so columns stay.
// Which node moved where is the caller's to check (`same_handle`).
class StatementMove {
 public:
  // `was`: the statement when its nodes were taken; `now`: the statement
  // in the tree after the edits, whose text is `source`.
  StatementMove(TSNode was, TSNode now, std::string_view source);

  // A node of the statement (or the statement) as the new tree has it.
  // Inline: every node of every kept statement passes here at each edit.
  TSNode node(TSNode old) const {
    TSNode moved = old;
    moved.id = id(old.id);
    moved.context[0] = static_cast<uint32_t>(old.context[0] + bytes_);
    moved.context[1] = static_cast<uint32_t>(old.context[1] + rows_);
    moved.tree = tree_;
    return moved;
  }
  // A node id taken with the nodes (the statement's own id changes).
  const void* id(const void* old) const { return old == was_id_ ? now_id_ : old; }
  // A view of the statement's text, taken from the old source.
  std::string_view text(SourceSpan span) const {
    return source_.substr(static_cast<std::size_t>(span.offset + bytes_), span.length);
  }
  uint32_t row(uint32_t old) const { return static_cast<uint32_t>(old + rows_); }
  uint32_t byte(uint32_t old) const { return static_cast<uint32_t>(old + bytes_); }

 private:
  int64_t bytes_;
  int64_t rows_;
  const TSTree* tree_;
  std::string_view source_;
  // The statement's own handle names its place in its parent's children,
  // which the parse built anew; the nodes within it keep theirs.
  const void* was_id_;
  const void* now_id_;
};

// Whether two handles are the same node of the same tree, at the same place.
bool same_handle(TSNode a, TSNode b);

// What makes a node the same node in the tree after an edit: its subtree,
// which the incremental parse shares between the trees where the edit did
// not reach. Null for a small leaf, which has none of its own.
const void* subtree_of(TSNode node);

}  // namespace keyhound
