#include "rules/key_tests.hpp"

#include "rules/expression_text.hpp"
#include "rules/key_text.hpp"
#include "syntax/node_access.hpp"
#include "syntax/node_text.hpp"

namespace keyhound {

TSNode KeyTests::unwrapped(TSNode node) const {
  while (!is_null(node) && node_kind(node) == k_.parenthesized_expression &&
         named_child_count(node) == 1) {
    node = named_child(node, 0);
  }
  return node;
}

std::string KeyTests::object_text(TSNode node) const {
  if (is_null(node) || !is_short_text(node)) return {};
  return compact_text(node, source_);
}

// A key written `(k := f())` is the name it binds.
std::string KeyTests::key_of(TSNode node) const {
  node = unwrapped(node);
  if (is_null(node)) return {};
  if (node_kind(node) == k_.named_expression) node = field_child(node, k_.name);
  if (is_null(node) || !is_short_text(node)) return {};
  return key_text(node, k_, source_);
}

// `k in d`, and `k in d.keys()` for the same d.
void KeyTests::add(TSNode container, TSNode key, std::vector<KeyPair>& pairs) const {
  container = unwrapped(container);
  if (is_null(container)) return;
  if (node_kind(container) == k_.call) {
    TSNode callee = field_child(container, k_.function);
    TSNode arguments = field_child(container, k_.arguments);
    if (!is_null(callee) && node_kind(callee) == k_.attribute && !is_null(arguments) &&
        named_child_count(arguments) == 0 &&
        node_text(field_child(callee, k_.attribute_field), source_) == "keys") {
      container = field_child(callee, k_.object);
    }
  }
  std::string object = object_text(container);
  std::string key_string = key_of(key);
  if (!object.empty() && !key_string.empty()) {
    pairs.push_back({std::move(object), std::move(key_string), FactOrigin::Test});
  }
}

// `d.get(k)`, through `(v := ...)` and `isinstance(..., T)`: true only when
// the key is there.
void KeyTests::get_call(TSNode node, std::vector<KeyPair>& pairs) const {
  for (;;) {
    node = unwrapped(node);
    if (is_null(node)) return;
    if (node_kind(node) == k_.named_expression) {
      node = field_child(node, k_.value);
      continue;
    }
    if (node_kind(node) != k_.call) return;
    TSNode callee = field_child(node, k_.function);
    TSNode arguments = field_child(node, k_.arguments);
    if (is_null(callee) || is_null(arguments) || node_kind(arguments) != k_.argument_list) return;
    if (node_kind(callee) == k_.identifier && node_text(callee, source_) == "isinstance" &&
        named_child_count(arguments) == 2) {
      node = named_child(arguments, 0);
      continue;
    }
    if (node_kind(callee) != k_.attribute || named_child_count(arguments) != 1 ||
        node_text(field_child(callee, k_.attribute_field), source_) != "get") {
      return;
    }
    TSNode key = named_child(arguments, 0);
    if (node_kind(key) == k_.keyword_argument) return;
    std::string object = object_text(field_child(callee, k_.object));
    std::string key_string = key_of(key);
    if (!object.empty() && !key_string.empty()) {
      pairs.push_back({std::move(object), std::move(key_string), FactOrigin::Test});
    }
    return;
  }
}

// One walk for both sides: `not` swaps them, `and` holds both operands' on
// its true side, `or` both operands' on its false side.
void KeyTests::when(TSNode condition, bool truth, std::vector<KeyPair>& pairs) const {
  std::vector<std::pair<TSNode, bool>> pending{{condition, truth}};
  while (!pending.empty()) {
    auto [node, side] = pending.back();
    pending.pop_back();
    node = unwrapped(node);
    if (is_null(node)) continue;
    TSSymbol kind = node_kind(node);
    if (kind == k_.comparison_operator && named_child_count(node) == 2) {
      TSNode left = named_child(node, 0);
      TSNode right = named_child(node, 1);
      std::string op = operator_between(left, right, source_);
      bool tests_none = node_text(right, source_) == "None";
      if (op == (side ? "in" : "notin")) {
        add(right, left, pairs);
      } else if (tests_none && (side ? op == "isnot" || op == "!=" : op == "is" || op == "==")) {
        get_call(left, pairs);
      }
    } else if (kind == k_.not_operator) {
      pending.emplace_back(field_child(node, k_.argument), !side);
    } else if (kind == k_.boolean_operator) {
      TSNode left = field_child(node, k_.left);
      TSNode right = field_child(node, k_.right);
      if (!is_null(left) && !is_null(right) &&
          operator_between(left, right, source_) == (side ? "and" : "or")) {
        pending.emplace_back(right, side);
        pending.emplace_back(left, side);
      }
    } else if (side) {
      get_call(node, pairs);
    }
  }
}

void KeyTests::of_iteration(TSNode target, TSNode iterable, std::vector<KeyPair>& pairs) const {
  iterable = unwrapped(iterable);
  if (is_null(target) || is_null(iterable)) return;
  std::string object;
  FactOrigin origin = FactOrigin::Test;
  bool first_of_two = false;
  if (node_kind(iterable) != k_.call) {
    object = object_text(iterable);
  } else {
    TSNode callee = field_child(iterable, k_.function);
    TSNode arguments = field_child(iterable, k_.arguments);
    if (is_null(callee) || is_null(arguments) || node_kind(arguments) != k_.argument_list) return;
    uint32_t count = named_child_count(arguments);
    if (node_kind(callee) == k_.identifier) {
      std::string_view name = node_text(callee, source_);
      if (name == "range") {
        origin = FactOrigin::Position;  // an index of any container: object stays empty
      } else {
        if (count != 1 || node_kind(named_child(arguments, 0)) == k_.keyword_argument) return;
        object = object_text(named_child(arguments, 0));
        if (object.empty()) return;
        if (name == "enumerate") {
          origin = FactOrigin::Position;
          first_of_two = true;
        } else if (name == "sorted" || name == "list" || name == "tuple" || name == "set") {
          origin = FactOrigin::Known;
        } else {
          return;
        }
      }
    } else if (node_kind(callee) == k_.attribute && count == 0) {
      std::string_view method = node_text(field_child(callee, k_.attribute_field), source_);
      object = object_text(field_child(callee, k_.object));
      if (object.empty()) return;
      if (method == "items") {
        first_of_two = true;
      } else if (method == "copy") {
        origin = FactOrigin::Known;
      } else if (method != "keys") {
        return;
      }
    } else {
      return;
    }
  }
  if (object.empty() && origin != FactOrigin::Position) return;
  TSNode key = target;
  if (first_of_two) {
    TSSymbol kind = node_kind(target);
    if ((kind != k_.pattern_list && kind != k_.tuple_pattern) || named_child_count(target) == 0) {
      return;
    }
    key = named_child(target, 0);
  }
  if (node_kind(key) != k_.identifier) return;
  pairs.push_back({std::move(object), compact_text(key, source_), origin});
}

}  // namespace keyhound
