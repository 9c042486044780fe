#pragma once

#include <tree_sitter/api.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rules/precise_kinds.hpp"
#include "rules/precise_rules.hpp"

namespace keyhound {

// The membership tests in force where the walk is: `if k in d:` and its
// kin (`k in d.keys()`, `d.get(k)`, `d.get(k) is not None`; `while`,
// `elif`, `x if k in d else y`, `k in d and d[k]`, `assert k in d`),
// iteration over the mapping's own keys (or a copy of them), and `if k not
// in d:` whose body always leaves, which guards the rest of its block. And
// the indexes a loop makes positions: `for i in range(...)`, `for i, x in
// enumerate(xs)` for `xs[i]`. Containers and keys compare by their
// compacted text.
class MembershipGuards {
 public:
  MembershipGuards(std::string_view source, const PreciseKinds& kinds)
      : source_(source), k_(kinds) {}

  // Called for every node of the walk: a guard may wait for any child.
  void enter_any(TSNode node, TSFieldId field, uint32_t depth);
  // Called for the nodes of the kinds the rules look at.
  void enter(TSNode node, TSSymbol kind, uint32_t depth);
  void leave(uint32_t depth);

  // Whether any test is in force: most subscripts meet none, and need not
  // have their texts compacted.
  bool any() const { return !guards_.empty(); }
  // The rule of a test in force for `object[key]`, if one is.
  std::optional<PreciseRule> guards(std::string_view object, std::string_view key) const;

 private:
  // A container V and a key K that a test makes safe, and the rule it
  // counts under; an empty V is any container (`for i in range(n)`).
  struct Pair {
    std::string object;
    std::string key;
    PreciseRule rule = PreciseRule::MembershipGuard;
  };
  struct Guard {
    uint32_t depth;
    Pair pair;
  };
  // A guard waiting for the child of a statement that it covers: the child
  // in `child_field`, or (field 0) the node `child`.
  struct PendingGuard {
    uint32_t parent_depth;
    TSFieldId child_field;
    const void* child;
    std::vector<Pair> pairs;
  };

  void collect_pairs(TSNode condition, std::string_view op, std::vector<Pair>& pairs) const;
  std::vector<Pair> iteration_pairs(TSNode loop) const;
  // The container a loop over `right` takes its keys from, and the rule.
  std::optional<Pair> iterated_container(TSNode right) const;
  void add_pair(TSNode container, TSNode key, std::vector<Pair>& pairs) const;
  void on_condition(TSNode statement, TSSymbol kind, uint32_t depth);
  void on_comprehension(TSNode node, uint32_t depth);
  void on_conditional_expression(TSNode node, uint32_t depth);
  void on_and(TSNode node, uint32_t depth);
  void on_assert(TSNode node, uint32_t depth);
  void early_exit(TSNode statement, TSNode condition, uint32_t depth);
  void wait_for_field(uint32_t depth, TSFieldId field, std::vector<Pair> pairs);

  std::string_view source_;
  const PreciseKinds& k_;
  std::vector<Guard> guards_;
  std::vector<Guard> after_exit_;
  std::vector<PendingGuard> pending_;
};

}  // namespace keyhound
