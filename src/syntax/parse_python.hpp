#pragma once

#include <cstddef>
#include <string_view>

#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

// A parser for the Python grammar: the one place a parser is set up. An
// incompatible grammar is an internal fault.
Parser make_python_parser();

// The syntax tree of `source`. With a cancellation flag (a parse arena's),
// the parse stops when the flag is set and the tree is empty; without one,
// an empty tree is an internal fault.
Tree parse_python(std::string_view source, const std::size_t* cancellation_flag = nullptr);

}  // namespace keyhound
