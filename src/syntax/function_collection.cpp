#include "syntax/function_collection.hpp"

#include <string>

#include "internal_fault.hpp"
#include "syntax/keyerror_guard.hpp"
#include "syntax/node_text.hpp"
#include "syntax/preorder_walk.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/utf8.hpp"

namespace keyhound {

void collect_functions(TSNode node, FunctionTable& functions, std::string_view source) {
  const PythonGrammar& grammar = python_grammar();
  walk_preorder(node, [&](TSNode visited) {
    if (ts_node_symbol(visited) != grammar.function_definition) return;
    TSNode name = ts_node_child_by_field_id(visited, grammar.name_field);
    if (ts_node_is_null(name)) {
      throw InternalFault("function definition without a name");
    }
    std::string_view text = node_text(name, source);
    if (!is_valid_utf8(text)) throw InternalFault("function name is not valid UTF-8");
    functions.insert_or_assign(std::string(text), FunctionEntry{.may_raise = {}, .node = visited, .accesses_reported = false});
  });
}

void collect_function_calls(TSNode node, std::vector<FunctionCall>& calls,
                            std::string_view source) {
  const PythonGrammar& grammar = python_grammar();
  walk_with_guard_status(node, source, [&](TSNode visited, bool guarded) {
    if (ts_node_symbol(visited) != grammar.call) return;
    TSNode callee = ts_node_child_by_field_id(visited, grammar.function_field);
    if (ts_node_is_null(callee)) return;
    calls.push_back(FunctionCall{
        .name = std::string(node_text(callee, source)), .node = visited, .guarded = guarded});
  });
}

}  // namespace keyhound
