#pragma once

#include <tree_sitter/api.h>

#include "syntax/module_entry.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace keyhound {

// What the analysis knows of one function of a file (or of the file as a
// whole, for the module entry).
struct FunctionEntry {
  // Exception names the function may let escape, each once; only ever
  // grows. A list: it holds one name, if any, and a file has thousands.
  std::vector<std::string> may_raise;
  // The "function_definition" node, or the root for the module entry.
  // Valid while the tree lives.
  TSNode node;
  // Set by the report pass once this function's own accesses were shown.
  bool accesses_reported = false;

  void may_let_escape(std::string_view name) {
    if (std::find(may_raise.begin(), may_raise.end(), name) == may_raise.end()) {
      may_raise.emplace_back(name);
    }
  }
};

// Function name (bare identifier after `def`, or "<module>") to its entry.
using FunctionTable = std::unordered_map<std::string, FunctionEntry>;

}  // namespace keyhound
