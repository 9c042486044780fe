#include "syntax/reraising_handler.hpp"

#include <vector>

#include "syntax/node_text.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {
namespace {

struct HandlerKinds {
  TSSymbol block, raise_statement, return_statement, break_statement, continue_statement,
      if_statement, elif_clause, else_clause, function_definition, class_definition, lambda,
      as_pattern_target;
  TSFieldId alias, consequence, body;
};

const HandlerKinds& handler_kinds() {
  static const HandlerKinds kinds{
      .block = grammar_symbol("block"),
      .raise_statement = grammar_symbol("raise_statement"),
      .return_statement = grammar_symbol("return_statement"),
      .break_statement = grammar_symbol("break_statement"),
      .continue_statement = grammar_symbol("continue_statement"),
      .if_statement = grammar_symbol("if_statement"),
      .elif_clause = grammar_symbol("elif_clause"),
      .else_clause = grammar_symbol("else_clause"),
      .function_definition = grammar_symbol("function_definition"),
      .class_definition = grammar_symbol("class_definition"),
      .lambda = grammar_symbol("lambda"),
      .as_pattern_target = grammar_symbol("as_pattern_target"),
      .alias = grammar_field("alias"),
      .consequence = grammar_field("consequence"),
      .body = grammar_field("body"),
  };
  return kinds;
}

// The name `except E as NAME:` binds; empty without one.
std::string_view caught_name(TSNode clause, std::string_view source) {
  const PythonGrammar& grammar = python_grammar();
  const HandlerKinds& k = handler_kinds();
  TSNode value = ts_node_child_by_field_id(clause, grammar.value_field);
  if (ts_node_is_null(value) || ts_node_symbol(value) != grammar.as_pattern) return {};
  TSNode target = ts_node_child_by_field_id(value, k.alias);
  if (ts_node_is_null(target) || ts_node_symbol(target) != k.as_pattern_target ||
      ts_node_named_child_count(target) != 1) {
    return {};
  }
  TSNode name = ts_node_named_child(target, 0);
  return ts_node_symbol(name) == grammar.identifier ? node_text(name, source) : std::string_view{};
}

// The first named child that is not a comment, or the last one.
TSNode statement_at(TSNode block, bool last) {
  const TSSymbol comment = python_grammar().comment;
  uint32_t count = ts_node_named_child_count(block);
  for (uint32_t i = 0; i < count; ++i) {
    TSNode child = ts_node_named_child(block, last ? count - 1 - i : i);
    if (ts_node_symbol(child) != comment) return child;
  }
  return TSNode{};
}

bool is_reraise(TSNode raise, std::string_view caught, std::string_view source) {
  TSNode raised = statement_at(raise, false);
  if (ts_node_is_null(raised)) return true;
  return !caught.empty() && ts_node_symbol(raised) == python_grammar().identifier &&
         node_text(raised, source) == caught;
}

// No statement in the body leaves it otherwise than by re-raising: no
// return, break or continue, no raise of something else (nested functions
// and classes aside, whose statements are not this body's).
bool leaves_only_by_reraising(TSNode body, std::string_view caught, std::string_view source) {
  const HandlerKinds& k = handler_kinds();
  TreeCursor cursor(body);
  uint32_t depth = 0;
  for (;;) {
    TSNode node = cursor.node();
    TSSymbol kind = ts_node_symbol(node);
    if (kind == k.return_statement || kind == k.break_statement ||
        kind == k.continue_statement ||
        (kind == k.raise_statement && !is_reraise(node, caught, source))) {
      return false;
    }
    bool nested_scope =
        kind == k.function_definition || kind == k.class_definition || kind == k.lambda;
    if (!nested_scope && cursor.goto_first_child()) {
      ++depth;
      continue;
    }
    while (!cursor.goto_next_sibling()) {
      if (depth == 0 || !cursor.goto_parent()) return true;
      --depth;
    }
    if (depth == 0) return true;
  }
}

// The block's last statement re-raises, or is an if statement with an else
// whose every branch ends so.
bool ends_by_reraising(TSNode body, std::string_view caught, std::string_view source) {
  const HandlerKinds& k = handler_kinds();
  std::vector<TSNode> blocks{body};
  while (!blocks.empty()) {
    TSNode last = statement_at(blocks.back(), true);
    blocks.pop_back();
    if (ts_node_is_null(last)) return false;
    TSSymbol kind = ts_node_symbol(last);
    if (kind == k.raise_statement) {
      if (!is_reraise(last, caught, source)) return false;
      continue;
    }
    if (kind != k.if_statement) return false;
    bool has_else = false;
    TreeCursor cursor(last);
    if (!cursor.goto_first_child()) return false;
    do {
      TSNode child = cursor.node();
      TSSymbol child_kind = ts_node_symbol(child);
      TSNode branch{};
      if (cursor.field_id() == k.consequence) {
        branch = child;
      } else if (child_kind == k.elif_clause) {
        branch = ts_node_child_by_field_id(child, k.consequence);
      } else if (child_kind == k.else_clause) {
        branch = ts_node_child_by_field_id(child, k.body);
        has_else = true;
      } else {
        continue;
      }
      if (ts_node_is_null(branch)) return false;
      blocks.push_back(branch);
    } while (cursor.goto_next_sibling());
    if (!has_else) return false;
  }
  return true;
}

}  // namespace

bool handler_always_reraises(TSNode clause, std::string_view source) {
  const HandlerKinds& k = handler_kinds();
  TSNode body{};
  uint32_t count = ts_node_named_child_count(clause);
  for (uint32_t i = count; i-- > 0;) {
    TSNode child = ts_node_named_child(clause, i);
    if (ts_node_symbol(child) == k.block) {
      body = child;
      break;
    }
  }
  if (ts_node_is_null(body) || ts_node_has_error(body)) return false;
  std::string_view caught = caught_name(clause, source);
  return ends_by_reraising(body, caught, source) && leaves_only_by_reraising(body, caught, source);
}

}  // namespace keyhound
