#pragma once

#include <tree_sitter/api.h>

#include <memory>
#include <utility>

namespace keyhound {

// Owners for the runtime's handles. Each is move-only and frees its handle
// exactly once; an empty owner holds nullptr.

struct ParserDeleter {
  void operator()(TSParser* parser) const noexcept { ts_parser_delete(parser); }
};
using Parser = std::unique_ptr<TSParser, ParserDeleter>;

struct TreeDeleter {
  void operator()(TSTree* tree) const noexcept { ts_tree_delete(tree); }
};
using Tree = std::unique_ptr<TSTree, TreeDeleter>;

inline TSNode root_of(const Tree& tree) { return ts_tree_root_node(tree.get()); }
// The nodes of the tree below `node`, itself included, without a walk.
inline uint32_t node_count(TSNode node) { return ts_node_descendant_count(node); }

// A cursor is a plain struct the runtime fills in, so the owner holds it by
// value. The node it starts on acts as the cursor's root: goto_parent fails
// there, which bounds every walk to the subtree it was opened on.
class TreeCursor {
 public:
  explicit TreeCursor(TSNode start) : cursor_(ts_tree_cursor_new(start)) {}
  ~TreeCursor() { ts_tree_cursor_delete(&cursor_); }

  TreeCursor(const TreeCursor&) = delete;
  TreeCursor& operator=(const TreeCursor&) = delete;

  TSNode node() const { return ts_tree_cursor_current_node(&cursor_); }
  bool goto_first_child() { return ts_tree_cursor_goto_first_child(&cursor_); }
  bool goto_next_sibling() { return ts_tree_cursor_goto_next_sibling(&cursor_); }
  bool goto_parent() { return ts_tree_cursor_goto_parent(&cursor_); }
  // 0 when the current node has no field name.
  TSFieldId field_id() const { return ts_tree_cursor_current_field_id(&cursor_); }

 private:
  TSTreeCursor cursor_;
};

}  // namespace keyhound
