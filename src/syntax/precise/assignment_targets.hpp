#pragma once

#include <tree_sitter/api.h>

#include <functional>

#include "syntax/precise/precise_kinds.hpp"

namespace keyhound {

// The parts of an assignment or `for` target, through tuples, lists,
// brackets and starred targets: each outermost subscript (a store) and each
// plain name (a binding). Attributes and the insides of subscripts are
// neither.
void for_each_target(TSNode target, const PreciseKinds& k,
                     const std::function<void(TSNode)>& on_subscript,
                     const std::function<void(TSNode)>& on_name);

}  // namespace keyhound
