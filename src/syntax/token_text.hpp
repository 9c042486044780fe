#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace keyhound {

// The node's text without the white space, line continuations and comments
// between its tokens (strings kept whole, as written): the same text however
// the code is laid out. Read lexically from the source and cut at `longest`
// bytes, so that a deeply nested lookup costs no more than a shallow one; a
// longer text ends in "..." and never inside a UTF-8 sequence.
std::string token_text(TSNode node, std::string_view source, std::size_t longest);

// The node's text as a message quotes it: on one line, each run of white
// space, line continuations and comments between tokens (and each run of
// white space inside a string) made one space, cut at `most_characters`
// code points, the last of them then "…".
std::string display_text(TSNode node, std::string_view source, std::size_t most_characters);

// A lookup as a message quotes it when what it looks up in is written over
// several rows: each bracketed part of that which spans rows shown as its
// brackets around "…", so that the key stays in view,
// `current_stacktrace(…)["frames"]`. On one row, display_text().
std::string display_lookup(TSNode subscript, std::string_view source,
                           std::size_t most_characters);

// Where the `[` of a subscript stands; nothing for a node that has none.
std::optional<TSPoint> subscript_bracket(TSNode subscript);

}  // namespace keyhound
