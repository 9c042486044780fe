#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <string_view>
#include <vector>

#include "syntax/precise/precise_kinds.hpp"
#include "syntax/precise/precise_rules.hpp"
#include "syntax/precise/scopes.hpp"

namespace keyhound {

// What an assignment's right-hand side binds a name to: a defaultdict or a
// Counter, whose lookups never raise KeyError, or something else.
BoundValue bound_value(TSNode right, const PreciseKinds& k, std::string_view source);

// Subscripts of a name that every binding in its scope binds to a
// defaultdict or a Counter. Whether that holds is known once the whole
// scope has been walked.
class NonRaisingContainers {
 public:
  void note_name_value(TSNode subscript, std::string_view name, std::size_t scope) {
    uses_.push_back({subscript.id, name, scope});
  }
  void settle(const ScopeTracker& scopes, PreciseFacts& facts) const;

 private:
  struct NameValue {
    const void* id;
    std::string_view name;
    std::size_t scope;
  };
  std::vector<NameValue> uses_;
};

}  // namespace keyhound
