#include "syntax/function_collection.hpp"

#include <string>

#include "syntax/file_index.hpp"

namespace keyhound {

// Both queries are views of the file index, the one walk the analysis runs,
// so that what the tests see is what production computes.

void collect_functions(TSNode node, FunctionTable& functions, std::string_view source) {
  for (const DefinitionSpan& definition : index_file(node, source).definitions) {
    functions.insert_or_assign(
        std::string(definition.name),
        FunctionEntry{.may_raise = {}, .node = definition.node, .accesses_reported = false});
  }
}

void collect_function_calls(TSNode node, std::vector<FunctionCall>& calls,
                            std::string_view source) {
  for (const IndexedCall& call : index_file(node, source).calls) {
    calls.push_back(
        FunctionCall{.name = std::string(call.name), .node = call.node, .guarded = call.guarded});
  }
}

}  // namespace keyhound
