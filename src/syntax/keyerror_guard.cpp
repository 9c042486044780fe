#include "syntax/keyerror_guard.hpp"

#include <array>
#include <string_view>
#include <vector>

#include "syntax/file_index.hpp"
#include "syntax/node_text.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/reraising_handler.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {
namespace {

// The classes whose handlers catch a KeyError: itself and its bases.
constexpr std::array<std::string_view, 4> kKeyErrorCatchers = {
    "KeyError", "LookupError", "Exception", "BaseException"};

bool is_catcher_name(std::string_view text) {
  for (std::string_view name : kKeyErrorCatchers) {
    if (text == name) return true;
  }
  return false;
}

// True when the expression of an except clause names a class that catches
// KeyError. Parenthesised and nested tuples are unpacked with an explicit
// stack, since hostile input may nest them arbitrarily deep.
bool expression_catches_keyerror(TSNode expression, std::string_view source) {
  const PythonGrammar& grammar = python_grammar();
  std::vector<TSNode> pending{expression};
  while (!pending.empty()) {
    TSNode node = pending.back();
    pending.pop_back();
    TSSymbol kind = ts_node_symbol(node);
    if (kind == grammar.identifier) {
      if (is_catcher_name(node_text(node, source))) return true;
    } else if (kind == grammar.attribute) {
      TSNode object = ts_node_child_by_field_id(node, grammar.object_field);
      TSNode attribute = ts_node_child_by_field_id(node, grammar.attribute_field);
      if (!ts_node_is_null(object) && !ts_node_is_null(attribute) &&
          ts_node_symbol(object) == grammar.identifier &&
          node_text(object, source) == "builtins" &&
          is_catcher_name(node_text(attribute, source))) {
        return true;
      }
    } else if (kind == grammar.as_pattern) {
      // `except E as e`: the class is the pattern's first named child.
      if (ts_node_named_child_count(node) > 0) pending.push_back(ts_node_named_child(node, 0));
    } else if (kind == grammar.parenthesized_expression || kind == grammar.tuple) {
      // Brackets around text that does not parse hold one broken
      // expression, not a list of classes: nothing in it counts.
      if (ts_node_has_error(node)) continue;
      uint32_t count = ts_node_named_child_count(node);
      for (uint32_t i = count; i-- > 0;) {
        TSNode child = ts_node_named_child(node, i);
        if (ts_node_symbol(child) != grammar.comment) pending.push_back(child);
      }
    }
  }
  return false;
}

}  // namespace

bool except_clause_catches_keyerror(TSNode clause, std::string_view source) {
  const PythonGrammar& grammar = python_grammar();
  bool has_expression = false;
  bool after_comma = false;
  TreeCursor cursor(clause);
  if (cursor.goto_first_child()) {
    do {
      TSNode child = cursor.node();
      TSFieldId field = cursor.field_id();
      // `except A, B:` (a tuple without parentheses) comes out of the grammar
      // as the value A and, after the comma, an alias B: both are classes.
      bool is_class = field == grammar.value_field ||
                      (field == grammar.alias_field && after_comma);
      if (is_class) {
        has_expression = true;
        if (expression_catches_keyerror(child, source)) return true;
      }
      if (!ts_node_is_named(child)) after_comma = node_text(child, source) == ",";
    } while (cursor.goto_next_sibling());
  }
  // A bare `except:` catches everything.
  return !has_expression;
}

bool is_keyerror_guard(TSNode node, std::string_view source, GuardRule rule) {
  const PythonGrammar& grammar = python_grammar();
  if (ts_node_symbol(node) != grammar.try_statement) return false;
  TreeCursor cursor(node);
  if (!cursor.goto_first_child()) return false;
  do {
    TSNode child = cursor.node();
    if (ts_node_symbol(child) == grammar.except_clause &&
        except_clause_catches_keyerror(child, source)) {
      // The first handler that catches it is the one that runs.
      return rule == GuardRule::AnyCatcher || !handler_always_reraises(child, source);
    }
  } while (cursor.goto_next_sibling());
  return false;
}

bool is_within_keyerror_try_except(TSNode node, std::string_view source, GuardRule rule) {
  // `ts_node_parent` descends from the root on every call, so climbing with
  // it costs depth squared. Descend once instead, remembering the way down,
  // then test that chain nearest ancestor first.
  std::vector<TSNode> chain;
  TSNode current = ts_tree_root_node(node.tree);
  chain.push_back(current);
  while (current.id != node.id) {
    TSNode next = ts_node_child_with_descendant(current, node);
    if (ts_node_is_null(next)) {
      // Not reachable by descent (the runtime finds no child holding it):
      // fall back to the plain climb, slow but always defined.
      chain.clear();
      for (TSNode up = node; !ts_node_is_null(up); up = ts_node_parent(up)) {
        chain.insert(chain.begin(), up);
      }
      break;
    }
    chain.push_back(next);
    current = next;
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (is_keyerror_guard(*it, source, rule)) return true;
  }
  return false;
}

void find_unguarded_dict_accesses(TSNode node, std::vector<TSNode>& accesses,
                                  std::string_view source) {
  const FileIndex index = index_file(node, source);
  accesses.insert(accesses.end(), index.accesses.begin(), index.accesses.end());
}

}  // namespace keyhound
