#include "analysis/unused_suppressions.hpp"

#include <algorithm>
#include <set>
#include <string>

#include "analysis/finding_identity.hpp"
#include "analysis/rule_catalog.hpp"
#include "base/ascii_case.hpp"
#include "syntax/comment_tokens.hpp"

namespace keyhound {
namespace {

bool mentions_noqa(std::string_view text) {
  return ascii_lowercase(text).find("noqa") != std::string::npos;
}

// The codes of keyhound's own rules that a finding may be suppressed by.
bool is_suppressible_code(std::string_view code) {
  return code != kUnusedSuppressionCode && find_rule(code) != nullptr;
}

struct Span {
  uint32_t first;
  uint32_t last;
};

std::optional<Span> rows_of_finding(const Finding& finding) {
  return std::visit(
      [](const auto& record) -> std::optional<Span> {
        if constexpr (requires { record.start; }) {
          return Span{record.start.row, record.end.row};
        } else {
          return std::nullopt;
        }
      },
      finding);
}

}  // namespace

std::vector<UnusedSuppressionFinding> unused_suppressions(
    const std::vector<TSNode>& comments, std::string_view source, const Suppressions& suppressions,
    const std::vector<Finding>& unsuppressed, const FindingMaker& make) {
  // Which codes are found on each logical line, and in the whole file.
  std::set<std::pair<uint32_t, std::string>> found_on_line;
  std::set<std::string> found_anywhere;
  for (const Finding& finding : unsuppressed) {
    const std::string_view code = code_of(finding);
    std::optional<Span> rows = rows_of_finding(finding);
    if (code.empty() || !rows) continue;
    found_anywhere.emplace(code);
    for (uint32_t row : {rows->first, rows->last}) {
      found_on_line.emplace(suppressions.logical_line(row).first, std::string(code));
    }
  }
  std::vector<UnusedSuppressionFinding> unused;
  const std::vector<CommentToken> tokens = comment_tokens(comments, source);
  for (std::size_t i = 0; i < comments.size() && i < tokens.size(); ++i) {
    const TSNode comment = comments[i];
    const std::string_view text = tokens[i].text;
    const uint32_t line = suppressions.logical_line(tokens[i].row).first;
    // As the suppressions read them: a file's directive stands alone on
    // its row.
    std::optional<Directive> directive;
    bool whole_file = false;
    if (tokens[i].whole_line) {
      if (auto file = parse_file_directive(text)) {
        directive = file;
        whole_file = true;
      }
    }
    if (!directive) directive = parse_line_directive(text);
    if (!directive) continue;
    auto is_found = [&](const std::string& code) {
      return whole_file ? found_anywhere.contains(code) : found_on_line.contains({line, code});
    };
    if (directive->all) {
      // A bare noqa may be another tool's; a bare keyhound one is ours.
      if (mentions_noqa(text) && !whole_file) continue;
      bool any = false;
      for (const RuleDescription& rule : rule_descriptions()) {
        if (is_suppressible_code(rule.code) && is_found(std::string(rule.code))) any = true;
      }
      if (!any) unused.push_back(make.unused_suppression(comment, {}));
      continue;
    }
    std::vector<std::string> codes;
    for (const std::string& code : directive->codes) {
      if (is_suppressible_code(code) && !is_found(code) &&
          std::find(codes.begin(), codes.end(), code) == codes.end()) {
        codes.push_back(code);
      }
    }
    if (!codes.empty()) unused.push_back(make.unused_suppression(comment, std::move(codes)));
  }
  return unused;
}

}  // namespace keyhound
