#include "run/noqa_editor.hpp"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "syntax/source_lines.hpp"
#include "analysis/suppression.hpp"
#include "syntax/comment_tokens.hpp"

namespace keyhound {

namespace {

using Insert = std::pair<std::size_t, std::string>;  // (byte offset, text to insert)

// The edit that puts `codes` into an existing comment of the row: more codes
// at the end of its noqa list, or nothing when it covers them already.
// Empty when no comment of the row holds a noqa list.
std::optional<std::optional<Insert>> merge_into_comment(std::string_view source,
                                                        const std::vector<RowComment>& comments,
                                                        const std::set<std::string>& codes) {
  for (const RowComment& comment : comments) {
    std::string_view text =
        source.substr(comment.start_byte, comment.end_byte - comment.start_byte);
    std::optional<Directive> directive = parse_line_directive(text);
    // A bare noqa covers every code already.
    if (directive && directive->all) return std::optional<Insert>();
    if (!directive || !directive->noqa_list_end) continue;
    std::string added;
    for (const std::string& code : codes) {
      if (!directive->suppresses(code)) added += ", " + code;
    }
    if (added.empty()) return std::optional<Insert>();
    return Insert{comment.start_byte + *directive->noqa_list_end, std::move(added)};
  }
  return std::nullopt;
}

std::string new_comment(const std::set<std::string>& codes) {
  std::string comment = "  # noqa: ";
  bool first = true;
  for (const std::string& code : codes) {
    if (!first) comment += ", ";
    comment += code;
    first = false;
  }
  return comment;
}

}  // namespace

NoqaEdit add_noqa_comments(std::string_view source,
                           const std::map<uint32_t, std::set<std::string>>& codes_by_row) {
  std::vector<std::string_view> lines = source_lines(source);
  std::map<uint32_t, std::vector<RowComment>> comments = comments_by_row(source);
  std::vector<Insert> inserts;
  NoqaEdit edit;
  for (const auto& [row, codes] : codes_by_row) {
    if (row >= lines.size()) {
      edit.refused.emplace(static_cast<uint32_t>(lines.size()), codes);
      continue;
    }
    std::string_view line = lines[row];
    std::size_t line_start = static_cast<std::size_t>(line.data() - source.data());
    // A backslash that ends the line outside a comment joins the next line
    // to it: a comment after it would break the code.
    const std::vector<RowComment>& row_comments = comments[row];
    bool ends_in_comment = !row_comments.empty() &&
                           row_comments.back().end_byte >= line_start + line.size();
    if (line.ends_with('\\') && !ends_in_comment) {
      edit.refused.emplace(row + 1, codes);
      continue;
    }
    std::optional<std::optional<Insert>> merged = merge_into_comment(source, row_comments, codes);
    // Trailing blanks stay before a new comment; nothing is appended after
    // a carriage return of a CRLF line end, since source_lines left it out.
    std::optional<Insert> insert =
        merged ? std::move(*merged) : Insert{line_start + line.size(), new_comment(codes)};
    if (!insert) continue;
    inserts.push_back(std::move(*insert));
    ++edit.comments_added;
  }
  // Applied from the end, so that each offset still holds.
  edit.text = std::string(source);
  std::sort(inserts.begin(), inserts.end(),
            [](const Insert& a, const Insert& b) { return a.first > b.first; });
  for (const auto& [offset, text] : inserts) edit.text.insert(offset, text);
  return edit;
}

}  // namespace keyhound
