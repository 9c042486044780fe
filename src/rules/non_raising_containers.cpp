#include "rules/non_raising_containers.hpp"

#include <optional>
#include <string>
#include <unordered_map>

#include "rules/expression_text.hpp"
#include "syntax/statement_move.hpp"

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
    // A free name is the nearest enclosing function's, else the module's
    // (a class body's names are not seen from its methods); a module name
    // some function declares `global` may be rebound anywhere.
    if (!use.attribute && !scope.bindings.contains(name) && !scope.def_nodes.contains(name)) {
      for (std::size_t at = scopes.parent(use.scope);; at = scopes.parent(at)) {
        const Scope& outer = scopes.scope(at);
        if (!outer.is_class && (outer.bindings.contains(name) || outer.def_nodes.contains(name))) {
          if (at == 0 && scopes.declared_global(name)) break;
          add_counts(counts, outer.values, name);
          if (outer.def_nodes.contains(name)) counts[static_cast<std::size_t>(BoundValue::Unknown)] += 1;
          break;
        }
        if (at == 0) break;
      }
    }
    // An attribute: what the methods assign as `self.x`, and what the class
    // body binds to `x`.
    if (use.attribute) add_counts(counts, scope.attributes, name);
    if (auto rule = rule_for(counts)) facts.take(use.id, *rule);
  }
}

std::vector<NonRaisingContainers::Use> NonRaisingContainers::uses_since(
    std::size_t begin, std::string_view source) const {
  std::vector<Use> uses;
  for (std::size_t u = begin; u < uses_.size(); ++u) {
    const NameValue& use = uses_[u];
    uses.push_back({use.id, span_in(use.name, source), use.scope, use.attribute});
  }
  return uses;
}

void NonRaisingContainers::add_uses(const std::vector<Use>& uses, const StatementMove& move,
                                    const ScopeRenumbering& renumber) {
  for (const Use& use : uses) {
    uses_.push_back({move.id(use.id), move.text(use.name), renumber(use.scope), use.attribute});
  }
}

}  // namespace keyhound
