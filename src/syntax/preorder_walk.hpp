#pragma once

#include <cstdint>

#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

// Visits `start` and every node beneath it (named nodes, anonymous tokens and
// comments alike) depth first, a node before its children, children in source
// order, with one cursor and no recursion: the stack never grows with the
// depth of the tree.
//
// `enter(node, depth)` runs when a node is reached (`start` has depth 0), and
// `leave(depth)` once the node at that depth and all of its children are
// done. Leaving passes only the depth, since building a node handle for every
// step up would cost as much as the walk itself; callers that keep scopes
// push the depth they were opened at and close them when it is left.
// The same walk, whose `enter(node, depth, cursor)` may also ask the cursor
// (for the node's field name, which only the cursor knows cheaply).
template <class Enter, class Leave>
void walk_preorder_with_cursor(TSNode start, Enter&& enter, Leave&& leave) {
  TreeCursor cursor(start);
  uint32_t depth = 0;
  for (;;) {
    enter(cursor.node(), depth, static_cast<const TreeCursor&>(cursor));
    if (cursor.goto_first_child()) {
      ++depth;
      continue;
    }
    leave(depth);
    for (;;) {
      if (cursor.goto_next_sibling()) break;
      if (!cursor.goto_parent()) return;
      --depth;
      leave(depth);
    }
  }
}

template <class Enter, class Leave>
void walk_preorder(TSNode start, Enter&& enter, Leave&& leave) {
  walk_preorder_with_cursor(
      start, [&](TSNode node, uint32_t depth, const TreeCursor&) { enter(node, depth); }, leave);
}

template <class Enter>
void walk_preorder(TSNode start, Enter&& enter) {
  walk_preorder(
      start, [&](TSNode node, uint32_t) { enter(node); }, [](uint32_t) {});
}

}  // namespace keyhound
