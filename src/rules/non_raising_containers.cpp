#include "rules/non_raising_containers.hpp"

#include <optional>
#include <string>
#include <unordered_map>

#include "rules/expression_text.hpp"

namespace keyhound {

namespace {

// The rule that takes out the subscripts of a name bound so many times to
// each kind of value, if one does: every binding must be known.
std::optional<PreciseRule> rule_for(const BindingCounts& counts) {
  auto count = [&](BoundValue value) { return counts[static_cast<std::size_t>(value)]; };
  if (count(BoundValue::Unknown) > 0) return std::nullopt;
  if (count(BoundValue::Sequence) > 0) return PreciseRule::Sequence;
  if (count(BoundValue::NonRaisingContainer) > 0) return PreciseRule::NonRaisingContainer;
  return std::nullopt;
}

void add_counts(BindingCounts& into, const std::unordered_map<std::string, BindingCounts>& from,
                const std::string& name) {
  auto found = from.find(name);
  if (found == from.end()) return;
  for (std::size_t kind = 0; kind < into.size(); ++kind) into[kind] += found->second[kind];
}

}  // namespace

void NonRaisingContainers::settle(const ScopeTracker& scopes, PreciseFacts& facts) const {
  for (const NameValue& use : uses_) {
    if (facts.exempt.contains(use.id)) continue;
    const Scope& scope = scopes.scope(use.scope);
    std::string name(use.name);
    BindingCounts counts{};
    add_counts(counts, scope.values, name);
    // An attribute: what the methods assign as `self.x`, and what the class
    // body binds to `x`.
    if (use.attribute) add_counts(counts, scope.attributes, name);
    if (auto rule = rule_for(counts)) facts.take(use.id, *rule);
  }
}

}  // namespace keyhound
