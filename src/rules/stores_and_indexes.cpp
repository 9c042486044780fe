#include "syntax/node_access.hpp"
#include "rules/stores_and_indexes.hpp"

#include "syntax/node_text.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

SubscriptParts subscript_parts(TSNode subscript, const PreciseKinds& k) {
  SubscriptParts parts{field_child(subscript, k.value),
                       field_child(subscript, k.subscript_field), 0, false,
                       named_child_count(subscript) == 2};
  if (is_null(parts.first_index)) return parts;
  if (parts.plain) {
    // Mostly there is one index, next to the value: no cursor is needed.
    parts.index_count = 1;
    parts.has_slice = node_kind(parts.first_index) == k.slice;
    return parts;
  }
  TreeCursor cursor(subscript);
  if (!cursor.goto_first_child()) return parts;
  do {
    if (cursor.field_id() != k.subscript_field) continue;
    ++parts.index_count;
    if (node_kind(cursor.node()) == k.slice) parts.has_slice = true;
  } while (cursor.goto_next_sibling());
  return parts;
}


std::optional<PreciseRule> StoresAndIndexes::index_rule(const SubscriptParts& parts) const {
  if (parts.has_slice) return PreciseRule::Slice;
  if (!parts.plain) return std::nullopt;
  TSNode index = parts.first_index;
  if (node_kind(index) == k_.unary_operator && named_child_count(index) == 1 &&
      node_text(index, source_).starts_with('-')) {
    index = named_child(index, 0);
  }
  if (node_kind(index) == k_.integer) return PreciseRule::IntegerIndex;
  return std::nullopt;
}

}  // namespace keyhound
