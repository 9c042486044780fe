#pragma once

#include <tree_sitter/api.h>

#include "syntax/module_entry.hpp"

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace keyhound {

// What the analysis knows of one function of a file (or of the file as a
// whole, for the module entry).
struct FunctionEntry {
  // Exception names the function may let escape; only ever grows.
  std::unordered_set<std::string> may_raise;
  // The "function_definition" node, or the root for the module entry.
  // Valid while the tree lives.
  TSNode node;
  // Set by the report pass once this function's own accesses were shown.
  bool accesses_reported = false;
};

// Function name (bare identifier after `def`, or "<module>") to its entry.
using FunctionTable = std::unordered_map<std::string, FunctionEntry>;

}  // namespace keyhound
