#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <string_view>
#include <vector>

#include "rules/precise_kinds.hpp"
#include "rules/precise_rules.hpp"
#include "syntax/statement_move.hpp"
#include "rules/scopes.hpp"

namespace keyhound {

// Subscripts of a name that every binding in its scope binds to a value
// no key lookup of which raises KeyError (a defaultdict or a Counter), or
// to a sequence, which no key indexes; and the same of an attribute
// `self.x` that the class and its methods only ever bind so. Whether that
// holds is known once the whole scope has been walked.
class NonRaisingContainers {
 public:
  void note_name_value(TSNode subscript, std::string_view name, std::size_t scope) {
    uses_.push_back({subscript.id, name, scope, false});
  }
  void note_attribute_value(TSNode subscript, std::string_view name, std::size_t class_scope) {
    uses_.push_back({subscript.id, name, class_scope, true});
  }
  void settle(const ScopeTracker& scopes, PreciseFacts& facts) const;

  // The uses a top-level statement noted, with their names as offsets in
  // `source`; and such uses noted again, moved, their scopes renumbered.
  struct Use {
    const void* id;
    SourceSpan name;
    std::size_t scope;
    bool attribute;
  };
  std::size_t use_count() const { return uses_.size(); }
  std::vector<Use> uses_since(std::size_t begin, std::string_view source) const;
  void add_uses(const std::vector<Use>& uses, const StatementMove& move,
                const ScopeRenumbering& renumber);

 private:
  struct NameValue {
    const void* id;
    std::string_view name;
    std::size_t scope;
    bool attribute;
  };
  std::vector<NameValue> uses_;
};

}  // namespace keyhound
