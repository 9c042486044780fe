#include "syntax/statement_move.hpp"

#include <cstring>

namespace keyhound {

NodePlace place_of(TSNode node) {
  const TSPoint start = ts_node_start_point(node);
  return {ts_node_start_byte(node), start.row, start.column};
}

// A handle is the subtree it names, the tree, and where the subtree starts
// (byte, row, column) with the alias it stands under. The runtime builds
// handles of a subtree only from where it stands, so a subtree that moved
// has its handles moved by the same bytes and rows. The analysis checks
// the statement's own handle against the tree's before it trusts this.
StatementMove::StatementMove(TSNode was, TSNode now, std::string_view source)
    : bytes_(static_cast<int64_t>(ts_node_start_byte(now)) - ts_node_start_byte(was)),
      rows_(static_cast<int64_t>(ts_node_start_point(now).row) - ts_node_start_point(was).row),
      tree_(now.tree),
      source_(source),
      was_id_(was.id),
      now_id_(now.id) {}

bool same_handle(TSNode a, TSNode b) {
  return a.id == b.id && a.tree == b.tree && a.context[0] == b.context[0] &&
         a.context[1] == b.context[1] && a.context[2] == b.context[2] &&
         a.context[3] == b.context[3];
}

// A handle names the place that holds its subtree in its parent's list of
// children, not the subtree: a statement the parse kept sits in a new place
// when the list above it was built anew. The place holds a pointer to the
// subtree, or a small leaf itself, marked by the lowest bit (which no
// pointer to a subtree has).
const void* subtree_of(TSNode node) {
  if (node.id == nullptr) return nullptr;
  uintptr_t held = 0;
  std::memcpy(&held, node.id, sizeof held);
  if ((held & 1U) != 0) return nullptr;
  return reinterpret_cast<const void*>(held);
}

}  // namespace keyhound
