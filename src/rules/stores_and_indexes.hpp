#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "rules/precise_kinds.hpp"
#include "rules/precise_rules.hpp"

namespace keyhound {

// The pieces of one subscript `value[index, ...]` that the rules read.
struct SubscriptParts {
  TSNode value;        // null in a broken tree
  TSNode first_index;  // null in a broken tree
  std::size_t index_count;
  bool has_slice;
  // Nothing but the value and one index: no comment between the brackets.
  bool plain;
};

SubscriptParts subscript_parts(TSNode subscript, const PreciseKinds& k);

// Subscripts that look nothing up: a store (`d[k] = v` adds the key), a
// slice (only sequences take one), and a literal integer index (a sequence
// position far more often than an integer key).
class StoresAndIndexes {
 public:
  StoresAndIndexes(std::string_view source, const PreciseKinds& kinds)
      : source_(source), k_(kinds) {}

  void note_store(TSNode subscript) { stores_.insert(subscript.id); }
  bool is_store(TSNode subscript) const { return stores_.contains(subscript.id); }

  // Slice or IntegerIndex when one applies to a subscript that is no store.
  std::optional<PreciseRule> index_rule(const SubscriptParts& parts) const;

 private:
  std::string_view source_;
  const PreciseKinds& k_;
  std::unordered_set<const void*> stores_;
};

}  // namespace keyhound
