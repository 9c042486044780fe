#pragma once

#include <tree_sitter/api.h>

#include <string>
#include <string_view>
#include <vector>

#include "syntax/function_entry.hpp"

namespace keyhound {

// One call expression found beneath a node.
struct FunctionCall {
  // The callee expression exactly as written (`obj.method`, `a.b().c`),
  // blanks, line breaks and comments inside it included.
  std::string name;
  // The whole "call" node, arguments included; valid while the tree lives.
  TSNode node;
  // Whether a try statement that catches KeyError encloses the call: the
  // answer `is_within_keyerror_try_except(node)` gives, settled during the
  // walk so that callers need not climb from every call.
  bool guarded = false;
};

// Enters every "function_definition" at or beneath `node` under its bare
// name, with a fresh entry. A later definition of a name replaces the
// earlier one whole. Lambdas are not definitions.
void collect_functions(TSNode node, FunctionTable& functions, std::string_view source);

// Appends a `FunctionCall` for every "call" at or beneath `node` that has a
// callee, in pre-order: by start in the file, a containing call first.
void collect_function_calls(TSNode node, std::vector<FunctionCall>& calls,
                            std::string_view source);

}  // namespace keyhound
