#pragma once

#include <tree_sitter/api.h>

#include <string_view>

namespace keyhound {

// True when the body of `clause` (an "except_clause") ends, on every path
// through it, by raising the very exception it caught: a bare `raise`, or
// `raise NAME` of its own `as NAME`. Such a handler lets a KeyError escape.
// A body that may return, break, continue or raise something else on some
// path has handled the exception, and so does not count.
bool handler_always_reraises(TSNode clause, std::string_view source);

}  // namespace keyhound
