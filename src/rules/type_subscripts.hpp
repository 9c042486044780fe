#pragma once

#include <tree_sitter/api.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "rules/precise_kinds.hpp"
#include "rules/precise_rules.hpp"
#include "syntax/statement_move.hpp"

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

  // What a top-level statement added: the names it bound to typing, and
  // its attribute-valued subscripts (their leftmost names as offsets).
  struct Part {
    std::vector<std::string> typing_aliases;
    struct Value {
      const void* id;
      SourceSpan leftmost;
      TSNode value;
    };
    std::vector<Value> attribute_values;
  };
  struct Marks {
    std::size_t typing_aliases = 0;
    std::size_t attribute_values = 0;
  };
  Marks marks() const { return {alias_log_.size(), attribute_values_.size()}; }
  Part part_since(const Marks& marks) const;
  void add_part(const Part& part, const StatementMove& move);

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
  // The same names in the order the walk met them.
  std::vector<std::string> alias_log_;
  std::vector<AttributeValue> attribute_values_;
};

}  // namespace keyhound
