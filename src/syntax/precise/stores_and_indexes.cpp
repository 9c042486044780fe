#include "syntax/precise/stores_and_indexes.hpp"

#include "syntax/node_text.hpp"

namespace keyhound {

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
