#pragma once

#include <tree_sitter/api.h>

#include <string_view>

#include "rules/precise_kinds.hpp"
#include "rules/scopes.hpp"

namespace keyhound {

// What an annotation says a name holds: a sequence (`list[str]`,
// `typing.Sequence`, `str`, ...), a defaultdict or Counter, or nothing known.
BoundValue annotated_value(TSNode type, const PreciseKinds& k, std::string_view source);

// What a right-hand side binds a name to, from its syntax alone: a list,
// tuple or string literal, a list comprehension, a call of a sequence type
// or of a method that always returns a list or a string; a defaultdict or
// Counter call; or nothing known.
BoundValue assigned_value(TSNode right, const PreciseKinds& k, std::string_view source);

// An expression that is a sequence wherever it is written: a literal list,
// tuple or string, a list comprehension, `sys.argv`, an array's `.shape`.
bool is_sequence_expression(TSNode value, const PreciseKinds& k, std::string_view source);

// `len(X) - ...` whose X is `object`: an index that only a sequence takes.
bool is_length_offset(TSNode index, TSNode object, const PreciseKinds& k,
                      std::string_view source);

}  // namespace keyhound
