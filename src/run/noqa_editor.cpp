#include "run/noqa_editor.hpp"

#include <algorithm>
#include <vector>

#include "syntax/source_lines.hpp"
#include "analysis/suppression.hpp"
#include "syntax/comment_tokens.hpp"

namespace keyhound {

NoqaEdit add_noqa_comments(std::string_view source,
                           const std::map<uint32_t, std::set<std::string>>& codes_by_row) {
  std::vector<std::string_view> lines = source_lines(source);
  std::map<uint32_t, std::vector<RowComment>> comments = comments_by_row(source);
  // Edits as (byte offset, text to insert), applied from the end.
  std::vector<std::pair<std::size_t, std::string>> inserts;
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
    std::vector<std::string> missing(codes.begin(), codes.end());
    bool handled = false;
    for (const RowComment& comment : comments[row]) {
      std::string_view text = source.substr(comment.start_byte, comment.end_byte - comment.start_byte);
      auto directive = parse_line_directive(text);
      if (directive && directive->all) {
        handled = true;  // a bare noqa covers every code already
        break;
      }
      if (!directive || !directive->noqa_list_end) continue;
      std::size_t list_end = *directive->noqa_list_end;
      std::string added;
      for (const std::string& code : missing) {
        if (directive && directive->suppresses(code)) continue;
        added += ", " + code;
      }
      if (!added.empty()) {
        inserts.emplace_back(comment.start_byte + list_end, added);
        ++edit.comments_added;
      }
      handled = true;
      break;
    }
    if (handled) continue;
    std::string comment = "  # noqa: ";
    for (std::size_t i = 0; i < missing.size(); ++i) {
      if (i > 0) comment += ", ";
      comment += missing[i];
    }
    // Trailing blanks stay before the comment; nothing is appended after a
    // carriage return of a CRLF line end, since source_lines left it out.
    inserts.emplace_back(line_start + line.size(), comment);
    ++edit.comments_added;
  }
  edit.text = std::string(source);
  std::sort(inserts.begin(), inserts.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [offset, text] : inserts) edit.text.insert(offset, text);
  return edit;
}

}  // namespace keyhound
