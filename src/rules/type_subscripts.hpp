#pragma once

#include <tree_sitter/api.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "rules/precise_kinds.hpp"
#include "rules/precise_rules.hpp"

namespace keyhound {

// Subscripts that are types, not lookups: anything inside an annotation or
// a class's bases, a generic of the builtins or of typing by name, and
// `typing.X[...]`, `collections.abc.X[...]` or `alias.X[...]` where `alias`
// names typing anywhere in the file.
class TypeSubscripts {
 public:
  TypeSubscripts(std::string_view source, const PreciseKinds& kinds)
      : source_(source), k_(kinds) {}

  void enter(TSNode node, TSSymbol kind, TSFieldId field, uint32_t depth);
  void leave(uint32_t depth);

  // Whether the subscript is a type as far as the walk so far can tell.
  bool is_type_now(TSNode value) const;
  // A subscript whose value is an attribute: whether it is a type depends
  // on the file's imports, which the end of the walk knows.
  void note_attribute_value(TSNode subscript, TSNode value);
  // Exempts the attribute-valued subscripts that turned out to be types.
  void settle(PreciseFacts& facts) const;

 private:
  struct AttributeValue {
    const void* id;
    std::string_view leftmost;
    TSNode value;
  };

  std::string_view source_;
  const PreciseKinds& k_;
  std::vector<uint32_t> annotation_depths_;
  std::unordered_set<std::string> typing_aliases_;
  std::vector<AttributeValue> attribute_values_;
};

}  // namespace keyhound
