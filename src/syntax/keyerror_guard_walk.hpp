#pragma once

#include <vector>

#include "syntax/preorder_walk.hpp"
#include "syntax/python_grammar.hpp"

namespace keyhound {

template <class Visit>
void walk_with_guard_status(TSNode start, std::string_view source, Visit&& visit) {
  const TSSymbol try_statement = python_grammar().try_statement;
  // Guards above the start node are found by one climb; those inside the
  // subtree are pushed on entry and popped on leaving, so each node's status
  // is known without climbing from it.
  const bool guarded_from_outside = is_within_keyerror_try_except(start, source);
  std::vector<const void*> open_guards;
  walk_preorder(
      start,
      [&](TSNode node) {
        if (ts_node_symbol(node) == try_statement && is_keyerror_guard(node, source)) {
          open_guards.push_back(node.id);
        }
        visit(node, guarded_from_outside || !open_guards.empty());
      },
      [&](TSNode node) {
        if (!open_guards.empty() && open_guards.back() == node.id) open_guards.pop_back();
      });
}

}  // namespace keyhound
