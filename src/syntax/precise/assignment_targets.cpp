#include "syntax/precise/assignment_targets.hpp"

#include <vector>

namespace keyhound {

void for_each_target(TSNode target, const PreciseKinds& k,
                     const std::function<void(TSNode)>& on_subscript,
                     const std::function<void(TSNode)>& on_name) {
  std::vector<TSNode> pending{target};
  while (!pending.empty()) {
    TSNode node = pending.back();
    pending.pop_back();
    TSSymbol kind = ts_node_symbol(node);
    if (kind == k.subscript) {
      on_subscript(node);
    } else if (kind == k.identifier) {
      on_name(node);
    } else if (kind == k.pattern_list || kind == k.tuple_pattern || kind == k.list_pattern ||
               kind == k.tuple || kind == k.list || kind == k.parenthesized_expression ||
               kind == k.list_splat_pattern) {
      uint32_t count = ts_node_named_child_count(node);
      for (uint32_t i = 0; i < count; ++i) pending.push_back(ts_node_named_child(node, i));
    }
  }
}

}  // namespace keyhound
