#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/internal_fault.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

// Visits `start` and every node beneath it (named nodes, anonymous tokens and
// comments alike) depth first, a node before its children, children in source
// order, with one cursor and no recursion: however deep the tree, the call
// stack stays flat (what grows with the depth is on the heap).
//
// `enter(node, depth)` runs when a node is reached (`start` has depth 0), and
// `leave(depth)` once the node at that depth and all of its children are
// done. Leaving passes only the depth, since building a node handle for every
// step up would cost as much as the walk itself; callers that keep scopes
// push the depth they were opened at and close them when it is left.
// The same walk, whose `enter(node, depth, cursor)` may also ask the cursor
// (for the node's field name, which only the cursor knows cheaply). An
// `enter` that returns false passes over the node's children: the node is
// left at once.
//
// A node knows how many children the cursor will show (hidden nodes count
// by their visible children, as the cursor descends into them), so the walk
// never asks for a sibling past the last: a failed step to the next sibling
// climbs and searches the hidden nodes above before it gives up, and would
// cost a step for every node with children.
template <class Enter, class Leave>
void walk_preorder_with_cursor(TSNode start, Enter&& enter, Leave&& leave) {
  TreeCursor cursor(start);
  // For each depth below the start, the siblings still to come.
  std::vector<uint32_t> siblings_left;
  uint32_t depth = 0;
  for (;;) {
    const TSNode node = cursor.node();
    bool descend = true;
    if constexpr (std::is_same_v<decltype(enter(node, depth, std::as_const(cursor))), bool>) {
      descend = enter(node, depth, std::as_const(cursor));
    } else {
      enter(node, depth, std::as_const(cursor));
    }
    if (const uint32_t children = descend ? ts_node_child_count(node) : 0; children > 0) {
      if (!cursor.goto_first_child()) throw InternalFault("a node with children has no first");
      siblings_left.push_back(children - 1);
      ++depth;
      continue;
    }
    leave(depth);
    for (;;) {
      if (depth == 0) return;
      if (siblings_left.back() > 0) {
        if (!cursor.goto_next_sibling()) throw InternalFault("a node lost a sibling");
        --siblings_left.back();
        break;
      }
      siblings_left.pop_back();
      cursor.goto_parent();
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
