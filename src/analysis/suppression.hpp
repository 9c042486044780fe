#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "syntax/comment_tokens.hpp"

namespace keyhound {

// The codes a suppression comment names, or all of them.
struct Directive {
  bool all = false;
  std::vector<std::string> codes;
  // In a line comment: where the code list of its first `# noqa: codes`
  // ends, the place for more codes.
  std::optional<std::size_t> noqa_list_end;

  bool suppresses(std::string_view code) const;
  void merge(const Directive& other);
};

// The suppression a comment token holds for its line, matched as flake8
// matches it: `#`, blanks, `noqa` in any case, then optionally blanks, a
// colon, blanks and codes (capital letters then digits, separated by commas
// or blanks); also `# keyhound: ignore` and `# keyhound: ignore[KH001]`.
// A `# noqa:` with no code after it counts as a bare `# noqa`.
std::optional<Directive> parse_line_directive(std::string_view comment);

// `# keyhound: noqa`, optionally with `: codes`: the whole file.
std::optional<Directive> parse_file_directive(std::string_view comment);

// Where a file's suppression comments apply. Rows that the text joins into
// one logical line (by a string that spans rows or a backslash
// continuation) share their comments, since only the last of them can hold
// one.
class Suppressions {
 public:
  Suppressions(const std::vector<CommentToken>& comments,
               std::vector<std::pair<uint32_t, uint32_t>> joined_rows);

  // Whether a finding with `code` on a node spanning rows first..last is
  // suppressed: by a comment on the logical line of its first or of its
  // last row, or by a file-level comment.
  bool suppresses(std::string_view code, uint32_t first_row, uint32_t last_row) const;

  // The row where a comment for a node ending on `last_row` belongs: the
  // last row of its logical line.
  uint32_t comment_row(uint32_t last_row) const;

  // The first and last rows of the logical line holding `row`.
  std::pair<uint32_t, uint32_t> logical_line(uint32_t row) const;

  // Whether no comment suppresses anything: then nothing is suppressed,
  // and no suppression is unused.
  bool none() const { return directives_.empty() && !file_directive_; }

 private:
  // Joined rows merged into sorted, disjoint [first, last] ranges.
  std::vector<std::pair<uint32_t, uint32_t>> logical_lines_;
  // By the first row of a logical line.
  std::map<uint32_t, Directive> directives_;
  std::optional<Directive> file_directive_;
};

}  // namespace keyhound
