#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace keyhound {

struct NoqaEdit {
  std::string text;
  // Rows that got a comment or more codes in one.
  std::size_t comments_added = 0;
  // Lines (1-based) no comment can go on, with their codes: a final line that ends in
  // a backslash continues into nothing, and a comment after the backslash
  // would break the code.
  std::map<uint32_t, std::set<std::string>> refused;
};

// `source` with `# noqa: CODES` on each row of `codes_by_row` (0-based):
// the codes are merged into a `# noqa:` list already on that row, or a new
// comment is appended at the row's end (before a carriage return). A row
// with a bare `# noqa` already suppresses everything and is left alone.
// The rows are those where a finding's comment belongs, never inside a
// string or after a backslash.
NoqaEdit add_noqa_comments(std::string_view source,
                           const std::map<uint32_t, std::set<std::string>>& codes_by_row);

}  // namespace keyhound
