#pragma once

#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

// Visits `start` and every node beneath it (named nodes, anonymous tokens and
// comments alike) depth first, a node before its children, children in source
// order. `enter(node)` runs when a node is reached and `leave(node)` once all
// of its children are done, so callers can keep scope state without recursion:
// one cursor serves the whole walk and the stack never grows with the depth.
template <class Enter, class Leave>
void walk_preorder(TSNode start, Enter&& enter, Leave&& leave) {
  TreeCursor cursor(start);
  for (;;) {
    TSNode node = cursor.node();
    enter(node);
    if (cursor.goto_first_child()) continue;
    leave(node);
    for (;;) {
      if (cursor.goto_next_sibling()) break;
      if (!cursor.goto_parent()) return;
      leave(cursor.node());
    }
  }
}

template <class Enter>
void walk_preorder(TSNode start, Enter&& enter) {
  walk_preorder(start, enter, [](TSNode) {});
}

}  // namespace keyhound
