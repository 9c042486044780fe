#pragma once

#include <tree_sitter/api.h>

#include <cstddef>

#include "syntax/precise/precise_kinds.hpp"

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

}  // namespace keyhound
