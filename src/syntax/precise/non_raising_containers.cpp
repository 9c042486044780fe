#include "syntax/precise/non_raising_containers.hpp"

#include <string>

#include "syntax/precise/expression_text.hpp"

namespace keyhound {

BoundValue bound_value(TSNode right, const PreciseKinds& k, std::string_view source) {
  if (ts_node_is_null(right) || ts_node_symbol(right) != k.call) return BoundValue::Unknown;
  std::string callee = compact_text(ts_node_child_by_field_id(right, k.function), source);
  bool container = callee == "defaultdict" || callee == "collections.defaultdict" ||
                   callee == "Counter" || callee == "collections.Counter";
  return container ? BoundValue::NonRaisingContainer : BoundValue::Unknown;
}

void NonRaisingContainers::settle(const ScopeTracker& scopes, PreciseFacts& facts) const {
  for (const NameValue& use : uses_) {
    if (facts.exempt.contains(use.id)) continue;
    const Scope& scope = scopes.scope(use.scope);
    auto found = scope.values.find(std::string(use.name));
    if (found == scope.values.end()) continue;
    const BindingCounts& counts = found->second;
    bool only_containers = true;
    for (std::size_t kind = 0; kind < counts.size(); ++kind) {
      if (kind != static_cast<std::size_t>(BoundValue::NonRaisingContainer) && counts[kind] > 0) {
        only_containers = false;
      }
    }
    if (only_containers && counts[static_cast<std::size_t>(BoundValue::NonRaisingContainer)] > 0) {
      facts.take(use.id, PreciseRule::NonRaisingContainer);
    }
  }
}

}  // namespace keyhound
