#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

namespace keyhound {

// A comment token's byte range in the source.
struct RowComment {
  std::size_t start_byte;
  std::size_t end_byte;
};

// The comment tokens of a Python text by the row they start on: only real
// comments, never a `#` inside a string.
std::map<uint32_t, std::vector<RowComment>> comments_by_row(std::string_view source);

// One comment token of a file.
struct CommentToken {
  uint32_t row;
  std::string_view text;
  // Nothing but blanks stands before it on its row.
  bool whole_line;
};

// The tokens of a tree's comment nodes, in the order given.
std::vector<CommentToken> comment_tokens(const std::vector<TSNode>& comments,
                                         std::string_view source);

}  // namespace keyhound
