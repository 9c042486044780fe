#include "syntax/node_access.hpp"
#include "rules/membership_guards.hpp"

#include "syntax/node_text.hpp"
#include "rules/expression_text.hpp"

namespace keyhound {

void MembershipGuards::enter_any(TSNode node, TSFieldId field, uint32_t depth) {
  for (const PendingGuard& pending : pending_) {
    if (pending.parent_depth + 1 != depth) continue;
    bool wanted = pending.child_field == 0 ? node.id == pending.child
                                           : field == pending.child_field;
    if (wanted) {
      for (const Pair& pair : pending.pairs) guards_.push_back({depth, pair});
    }
  }
}

void MembershipGuards::enter(TSNode node, TSSymbol kind, uint32_t depth) {
  if (kind == k_.for_statement) {
    wait_for_field(depth, k_.body, iteration_pairs(node));
  } else if (kind == k_.list_comprehension || kind == k_.set_comprehension ||
             kind == k_.dictionary_comprehension || kind == k_.generator_expression) {
    on_comprehension(node, depth);
  } else if (kind == k_.if_statement || kind == k_.elif_clause || kind == k_.while_statement) {
    on_condition(node, kind, depth);
  } else if (kind == k_.conditional_expression) {
    on_conditional_expression(node, depth);
  } else if (kind == k_.boolean_operator) {
    on_and(node, depth);
  } else if (kind == k_.assert_statement) {
    on_assert(node, depth);
  }
}

void MembershipGuards::leave(uint32_t depth) {
  while (!guards_.empty() && guards_.back().depth >= depth) guards_.pop_back();
  while (!pending_.empty() && pending_.back().parent_depth >= depth) pending_.pop_back();
  // `if k not in d: return` guards what follows it in its block.
  while (!after_exit_.empty() && after_exit_.back().depth == depth) {
    Guard guard = std::move(after_exit_.back());
    after_exit_.pop_back();
    if (depth > 0) guards_.push_back({depth - 1, std::move(guard.pair)});
  }
}

std::optional<PreciseRule> MembershipGuards::guards(std::string_view object,
                                                    std::string_view key) const {
  for (const Guard& guard : guards_) {
    if ((guard.pair.object.empty() || guard.pair.object == object) && guard.pair.key == key) {
      return guard.pair.rule;
    }
  }
  return std::nullopt;
}

void MembershipGuards::wait_for_field(uint32_t depth, TSFieldId field, std::vector<Pair> pairs) {
  if (!pairs.empty()) pending_.push_back({depth, field, nullptr, std::move(pairs)});
}

void MembershipGuards::on_condition(TSNode statement, TSSymbol kind, uint32_t depth) {
  TSNode condition = field_child(statement, k_.condition);
  if (is_null(condition)) return;
  std::vector<Pair> pairs;
  collect_pairs(condition, "in", pairs);
  wait_for_field(depth, kind == k_.while_statement ? k_.body : k_.consequence, std::move(pairs));
  if (kind == k_.if_statement) early_exit(statement, condition, depth);
}

// Every `for k in d` clause guards the whole comprehension.
void MembershipGuards::on_comprehension(TSNode node, uint32_t depth) {
  uint32_t count = named_child_count(node);
  for (uint32_t i = 0; i < count; ++i) {
    TSNode clause = named_child(node, i);
    if (node_kind(clause) != k_.for_in_clause) continue;
    for (Pair& pair : iteration_pairs(clause)) guards_.push_back({depth, std::move(pair)});
  }
}

// `d[k] if k in d else y`: the test guards the first operand.
void MembershipGuards::on_conditional_expression(TSNode node, uint32_t depth) {
  if (named_child_count(node) < 2) return;
  std::vector<Pair> pairs;
  collect_pairs(named_child(node, 1), "in", pairs);
  if (!pairs.empty()) {
    pending_.push_back({depth, 0, named_child(node, 0).id, std::move(pairs)});
  }
}

// `k in d and d[k]`: the left operand guards the right.
void MembershipGuards::on_and(TSNode node, uint32_t depth) {
  TSNode left = field_child(node, k_.left);
  TSNode right = field_child(node, k_.right);
  if (is_null(left) || is_null(right) ||
      operator_between(left, right, source_) != "and") {
    return;
  }
  std::vector<Pair> pairs;
  collect_pairs(left, "in", pairs);
  wait_for_field(depth, k_.right, std::move(pairs));
}

// `assert k in d` guards the rest of the block holding it.
void MembershipGuards::on_assert(TSNode node, uint32_t depth) {
  if (depth == 0 || named_child_count(node) == 0) return;
  std::vector<Pair> pairs;
  collect_pairs(named_child(node, 0), "in", pairs);
  for (Pair& pair : pairs) guards_.push_back({depth - 1, std::move(pair)});
}

// `k in d` tests of a condition: the whole condition, or the operands of
// its top-level `and`, brackets unwrapped.
void MembershipGuards::collect_pairs(TSNode condition, std::string_view op,
                                     std::vector<Pair>& pairs) const {
  std::vector<TSNode> pending{condition};
  while (!pending.empty()) {
    TSNode node = pending.back();
    pending.pop_back();
    TSSymbol kind = node_kind(node);
    if (kind == k_.parenthesized_expression && named_child_count(node) == 1) {
      pending.push_back(named_child(node, 0));
    } else if (kind == k_.boolean_operator && op == "in") {
      TSNode left = field_child(node, k_.left);
      TSNode right = field_child(node, k_.right);
      if (!is_null(left) && !is_null(right) &&
          operator_between(left, right, source_) == "and") {
        pending.push_back(right);
        pending.push_back(left);
      }
    } else if (kind == k_.comparison_operator && named_child_count(node) == 2) {
      TSNode left = named_child(node, 0);
      TSNode right = named_child(node, 1);
      std::string between = operator_between(left, right, source_);
      if (between == op) {
        add_pair(right, left, pairs);
      } else if (op == "in" && between == "isnot" && node_text(right, source_) == "None") {
        pending.push_back(left);  // `d.get(k) is not None`
      }
    } else if (kind == k_.call && op == "in") {
      // `d.get(k)`: true only when the key is there (and its value is).
      TSNode callee = field_child(node, k_.function);
      TSNode arguments = field_child(node, k_.arguments);
      if (is_null(callee) || node_kind(callee) != k_.attribute ||
          is_null(arguments) || named_child_count(arguments) != 1 ||
          node_text(field_child(callee, k_.attribute_field), source_) != "get") {
        continue;
      }
      TSNode key = named_child(arguments, 0);
      TSNode container = field_child(callee, k_.object);
      if (!is_null(container) && node_kind(key) != k_.keyword_argument) {
        pairs.push_back({compact_text(container, source_), compact_text(key, source_)});
      }
    }
  }
}

// `k in d`, and `k in d.keys()` for the same d.
void MembershipGuards::add_pair(TSNode container, TSNode key, std::vector<Pair>& pairs) const {
  if (node_kind(container) == k_.call) {
    TSNode callee = field_child(container, k_.function);
    TSNode arguments = field_child(container, k_.arguments);
    if (!is_null(callee) && node_kind(callee) == k_.attribute &&
        !is_null(arguments) && named_child_count(arguments) == 0 &&
        node_text(field_child(callee, k_.attribute_field), source_) == "keys") {
      container = field_child(callee, k_.object);
      if (is_null(container)) return;
    }
  }
  pairs.push_back({compact_text(container, source_), compact_text(key, source_)});
}

// `for k in d`, `for k in d.keys()`, `for k, v in d.items()`, a loop over
// a copy of the keys (`sorted(d)`, `list(d)`, `d.copy()`), and the
// positions of `for i in range(n)` and `for i, x in enumerate(xs)`.
std::vector<MembershipGuards::Pair> MembershipGuards::iteration_pairs(TSNode loop) const {
  TSNode left = field_child(loop, k_.left);
  TSNode right = field_child(loop, k_.right);
  if (is_null(left) || is_null(right)) return {};
  std::optional<Pair> iterated = iterated_container(right);
  if (!iterated) return {};
  TSNode key = left;
  if (iterated->key == "items" || iterated->key == "enumerate") {
    TSSymbol kind = node_kind(left);
    if ((kind != k_.pattern_list && kind != k_.tuple_pattern) ||
        named_child_count(left) == 0) {
      return {};
    }
    key = named_child(left, 0);
  }
  if (node_kind(key) != k_.identifier) return {};
  iterated->key = compact_text(key, source_);
  return {std::move(*iterated)};
}

// What a loop over `right` iterates: the pair's key says how its target
// holds the key ("items", "enumerate": the first of two; else the target).
std::optional<MembershipGuards::Pair> MembershipGuards::iterated_container(TSNode right) const {
  if (node_kind(right) != k_.call) {
    return Pair{compact_text(right, source_), "", PreciseRule::MembershipGuard};
  }
  TSNode callee = field_child(right, k_.function);
  TSNode arguments = field_child(right, k_.arguments);
  if (is_null(callee) || is_null(arguments)) return std::nullopt;
  uint32_t count = named_child_count(arguments);
  if (node_kind(callee) == k_.identifier) {
    std::string_view name = node_text(callee, source_);
    if (name == "range") return Pair{"", "", PreciseRule::Sequence};
    if (count != 1 || node_kind(named_child(arguments, 0)) == k_.keyword_argument) {
      return std::nullopt;
    }
    std::string only = compact_text(named_child(arguments, 0), source_);
    if (name == "enumerate") return Pair{std::move(only), "enumerate", PreciseRule::Sequence};
    if (name == "sorted" || name == "list" || name == "tuple" || name == "set") {
      return Pair{std::move(only), "", PreciseRule::KnownKey};
    }
    return std::nullopt;
  }
  if (node_kind(callee) != k_.attribute || count != 0) return std::nullopt;
  std::string_view method =
      node_text(field_child(callee, k_.attribute_field), source_);
  TSNode container = field_child(callee, k_.object);
  if (is_null(container)) return std::nullopt;
  if (method == "keys") return Pair{compact_text(container, source_), "", PreciseRule::MembershipGuard};
  if (method == "items") {
    return Pair{compact_text(container, source_), "items", PreciseRule::MembershipGuard};
  }
  if (method == "copy") return Pair{compact_text(container, source_), "", PreciseRule::KnownKey};
  return std::nullopt;
}

// `if k not in d:` whose body always leaves, with no else: what follows the
// if statement in its block is guarded.
void MembershipGuards::early_exit(TSNode statement, TSNode condition, uint32_t depth) {
  if (!is_null(field_child(statement, k_.alternative))) return;
  TSNode body = field_child(statement, k_.consequence);
  if (is_null(body) || named_child_count(body) == 0) return;
  TSNode last = named_child(body, named_child_count(body) - 1);
  TSSymbol kind = node_kind(last);
  if (kind != k_.return_statement && kind != k_.raise_statement &&
      kind != k_.continue_statement && kind != k_.break_statement) {
    return;
  }
  TSNode whole = condition;
  while (node_kind(whole) == k_.parenthesized_expression &&
         named_child_count(whole) == 1) {
    whole = named_child(whole, 0);
  }
  if (node_kind(whole) != k_.comparison_operator) return;
  std::vector<Pair> pairs;
  collect_pairs(whole, "notin", pairs);
  for (Pair& pair : pairs) after_exit_.push_back({depth, std::move(pair)});
}

}  // namespace keyhound
