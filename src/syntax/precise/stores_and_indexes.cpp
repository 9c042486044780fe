#include "syntax/precise/stores_and_indexes.hpp"

#include "syntax/node_text.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

SubscriptParts subscript_parts(TSNode subscript, const PreciseKinds& k) {
  SubscriptParts parts{ts_node_child_by_field_id(subscript, k.value),
                       ts_node_child_by_field_id(subscript, k.subscript_field), 0, false,
                       ts_node_named_child_count(subscript) == 2};
  if (ts_node_is_null(parts.first_index)) return parts;
  if (parts.plain) {
    // Mostly there is one index, next to the value: no cursor is needed.
    parts.index_count = 1;
    parts.has_slice = ts_node_symbol(parts.first_index) == k.slice;
    return parts;
  }
  TreeCursor cursor(subscript);
  if (!cursor.goto_first_child()) return parts;
  do {
    if (cursor.field_id() != k.subscript_field) continue;
    ++parts.index_count;
    if (ts_node_symbol(cursor.node()) == k.slice) parts.has_slice = true;
  } while (cursor.goto_next_sibling());
  return parts;
}


std::optional<PreciseRule> StoresAndIndexes::index_rule(const SubscriptParts& parts) const {
  if (parts.has_slice) return PreciseRule::Slice;
  if (!parts.plain) return std::nullopt;
  TSNode index = parts.first_index;
  if (ts_node_symbol(index) == k_.unary_operator && ts_node_named_child_count(index) == 1 &&
      node_text(index, source_).starts_with('-')) {
    index = ts_node_named_child(index, 0);
  }
  if (ts_node_symbol(index) == k_.integer) return PreciseRule::IntegerIndex;
  return std::nullopt;
}

}  // namespace keyhound
