#include "server/quick_fixes.hpp"

#include <algorithm>
#include <map>
#include <set>

#include "run/noqa_editor.hpp"
#include "syntax/lookup_rewrite.hpp"

namespace keyhound {

namespace {

struct Replacement {
  uint32_t start = 0;
  uint32_t end = 0;
  std::string text;
};

nlohmann::json text_edit(const OpenDocument& document, const Replacement& replacement,
                         PositionEncoding encoding) {
  const std::string& text = *document.text();
  const LineStarts& lines = document.lines();
  auto position = [&](uint32_t offset) {
    TextPoint point = lines.point_of(offset);
    return Position{point.row, point.byte_column, 0};
  };
  return {{"range", lsp_range(text, lines, position(replacement.start), position(replacement.end),
                              encoding)},
          {"newText", replacement.text}};
}

// The one replacement that turns `before` into `after`: what lies between
// their common beginning and their common end.
Replacement difference(std::string_view before, std::string_view after) {
  std::size_t prefix = 0;
  const std::size_t shorter = std::min(before.size(), after.size());
  while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < shorter - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  return Replacement{static_cast<uint32_t>(prefix), static_cast<uint32_t>(before.size() - suffix),
                     std::string(after.substr(prefix, after.size() - suffix - prefix))};
}

nlohmann::json code_action(const OpenDocument& document, const nlohmann::json& diagnostic,
                           std::string title, const Replacement& replacement, bool preferred,
                           PositionEncoding encoding) {
  nlohmann::json changes = nlohmann::json::object();
  changes[document.uri()] = nlohmann::json::array({text_edit(document, replacement, encoding)});
  return {{"title", std::move(title)},
          {"kind", "quickfix"},
          {"diagnostics", nlohmann::json::array({diagnostic})},
          {"isPreferred", preferred},
          {"edit", {{"changes", std::move(changes)}}}};
}

std::optional<Replacement> line_suppression(const std::string& text, const ShownFinding& finding) {
  std::map<uint32_t, std::set<std::string>> codes{{finding.comment_row, {finding.code}}};
  NoqaEdit edit = add_noqa_comments(text, codes);
  if (edit.comments_added == 0 || edit.text == text) return std::nullopt;
  return difference(text, edit.text);
}

// A file-level comment goes first, after a `#!` line and an encoding
// declaration, which must stay on the first two lines.
Replacement file_suppression(const OpenDocument& document, const ShownFinding& finding) {
  const std::string& text = *document.text();
  const LineStarts& lines = document.lines();
  uint32_t row = 0;
  while (row < 2 && row + 1 < lines.count()) {
    std::string_view line = lines.line(text, row);
    const bool shebang = row == 0 && line.starts_with("#!");
    const bool encoding = line.starts_with("#") && line.find("coding") != std::string_view::npos;
    if (!shebang && !encoding) break;
    ++row;
  }
  return Replacement{lines.start(row), lines.start(row), "# keyhound: noqa: " + finding.code + "\n"};
}

uint32_t offset_of(const OpenDocument& document, Position at) {
  return document.lines().start(at.row) + at.byte_column;
}

}  // namespace

nlohmann::json quick_fixes(const OpenDocument& document, const std::vector<ShownFinding>& findings,
                           uint32_t start, uint32_t end, PositionEncoding encoding) {
  const std::string& text = *document.text();
  nlohmann::json actions = nlohmann::json::array();
  for (const ShownFinding& finding : findings) {
    const uint32_t from = offset_of(document, finding.start);
    const uint32_t to = offset_of(document, finding.end);
    if (from > end || to < start || to > text.size()) continue;
    const nlohmann::json diagnostic =
        nlohmann::json::parse(
            lsp_diagnostics({finding}, text, document.lines(), document.uri(), encoding))[0];
    if (auto line = line_suppression(text, finding)) {
      actions.push_back(code_action(document, diagnostic, "Suppress " + finding.code + " on this line",
                                    *line, true, encoding));
    }
    actions.push_back(code_action(document, diagnostic, "Suppress " + finding.code + " in this file",
                                  file_suppression(document, finding), false, encoding));
    if (!finding.lookup || document.tree() == nullptr) continue;
    if (auto rewrite = get_call_rewrite(document.tree()->root(), text, from, to)) {
      actions.push_back(code_action(document, diagnostic,
                                    "Use " + *rewrite + " (None when the key is missing)",
                                    Replacement{from, to, *rewrite}, false, encoding));
    }
  }
  return actions;
}

}  // namespace keyhound
