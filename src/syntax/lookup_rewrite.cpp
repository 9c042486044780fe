#include "syntax/lookup_rewrite.hpp"

#include "syntax/python_grammar.hpp"

namespace keyhound {

namespace {

struct RewriteKinds {
  TSSymbol slice = grammar_symbol("slice");
  TSSymbol delete_statement = grammar_symbol("delete_statement");
  TSSymbol expression_list = grammar_symbol("expression_list");
  TSSymbol assignment = grammar_symbol("assignment");
  TSSymbol augmented_assignment = grammar_symbol("augmented_assignment");
  TSSymbol for_statement = grammar_symbol("for_statement");
  TSSymbol for_in_clause = grammar_symbol("for_in_clause");
};

const RewriteKinds& rewrite_kinds() {
  static const RewriteKinds kinds;
  return kinds;
}

std::string_view text_of(TSNode node, std::string_view source) {
  const uint32_t start = ts_node_start_byte(node);
  const uint32_t end = ts_node_end_byte(node);
  if (end > source.size() || start > end) return {};
  return source.substr(start, end - start);
}

bool same_node(TSNode a, TSNode b) { return !ts_node_is_null(b) && ts_node_eq(a, b); }

// Whether the lookup is written to or deleted rather than read. One step
// up (and one more through the list of `del a[k], b[j]`), never a climb.
bool is_target(TSNode lookup) {
  const RewriteKinds& kinds = rewrite_kinds();
  TSNode parent = ts_node_parent(lookup);
  if (ts_node_is_null(parent)) return false;
  TSSymbol kind = ts_node_symbol(parent);
  if (kind == kinds.expression_list) {
    TSNode outer = ts_node_parent(parent);
    return !ts_node_is_null(outer) && ts_node_symbol(outer) == kinds.delete_statement;
  }
  if (kind == kinds.delete_statement) return true;
  if (kind == kinds.assignment || kind == kinds.augmented_assignment ||
      kind == kinds.for_statement || kind == kinds.for_in_clause) {
    return same_node(lookup, ts_node_child_by_field_name(parent, "left", 4));
  }
  return false;
}

}  // namespace

std::optional<std::string> get_call_rewrite(TSNode root, std::string_view source,
                                            uint32_t start_byte, uint32_t end_byte) {
  const PythonGrammar& grammar = python_grammar();
  TSNode node = ts_node_descendant_for_byte_range(root, start_byte, end_byte);
  if (ts_node_is_null(node) || ts_node_symbol(node) != grammar.subscript ||
      ts_node_start_byte(node) != start_byte || ts_node_end_byte(node) != end_byte) {
    return std::nullopt;
  }
  TSNode value = ts_node_child_by_field_name(node, "value", 5);
  if (ts_node_is_null(value)) return std::nullopt;
  // The value, `[`, one key and `]`: a comma would make the key a tuple.
  if (ts_node_child_count(node) != 4 || ts_node_named_child_count(node) != 2) return std::nullopt;
  TSNode key = ts_node_child(node, 2);
  if (!ts_node_is_named(key) || ts_node_symbol(key) == rewrite_kinds().slice ||
      ts_node_has_error(node)) {
    return std::nullopt;
  }
  if (is_target(node)) return std::nullopt;
  std::string rewrite(text_of(value, source));
  rewrite += ".get(";
  rewrite += text_of(key, source);
  rewrite += ')';
  return rewrite;
}

}  // namespace keyhound
