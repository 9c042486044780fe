#include "syntax/function_collection.hpp"

#include <string>

#include "syntax/file_index.hpp"
#include "syntax/keyerror_guard.hpp"
#include "syntax/node_text.hpp"
#include "syntax/preorder_walk.hpp"
#include "syntax/python_grammar.hpp"

namespace keyhound {

void collect_functions(TSNode node, FunctionTable& functions, std::string_view source) {
  const PythonGrammar& grammar = python_grammar();
  walk_preorder(node, [&](TSNode visited) {
    if (ts_node_symbol(visited) != grammar.function_definition) return;
    functions.insert_or_assign(std::string(function_name(visited, source)), FunctionEntry{.may_raise = {}, .node = visited, .accesses_reported = false});
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
