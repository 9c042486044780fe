#include "formats/finding_fields.hpp"

#include <cstdio>
#include <variant>

#include "analysis/finding_identity.hpp"

namespace keyhound {

std::vector<FindingFields> finding_fields(const FileReport& report,
                                          const Presentation& presentation) {
  const ShownPath path(report.path, report.cells);
  auto message = [&](const Finding& finding) {
    return presentation.style == ExcerptStyle::Readable ? readable_message(finding, path)
                                                        : message_of(finding);
  };
  std::vector<FindingFields> fields;
  for (const Finding& finding : report.findings) {
    if (const auto* syntax = std::get_if<SyntaxErrorFinding>(&finding)) {
      fields.push_back(FindingFields{code_of(finding), message(finding), kModuleEntryName,
                                     syntax->start, syntax->end, "", "", nullptr,
                                     syntax->comment_row, &finding});
    } else if (const auto* unused = std::get_if<UnusedSuppressionFinding>(&finding)) {
      fields.push_back(FindingFields{code_of(finding), message(finding), kModuleEntryName,
                                     unused->start, unused->end, "", "", nullptr,
                                     unused->comment_row, &finding});
    } else if (const auto* access = std::get_if<AccessFinding>(&finding)) {
      if (!report.shows(*access)) continue;
      fields.push_back(FindingFields{code_of(finding), message(finding), access->function,
                                     access->start, access->end, access->source_text,
                                     access->display_text, nullptr,
                                     access->comment_row, &finding});
    } else if (const auto* call = std::get_if<CallFinding>(&finding)) {
      fields.push_back(FindingFields{code_of(finding), message(finding), call->function,
                                     call->start, call->end, call->source_text, call->display_text,
                                     call,
                                     call->comment_row, &finding});
    }
    if (!fields.empty() && fields.back().finding == &finding) {
      fields.back().risk = risk_of(finding);
      fields.back().cells = report.cells;
    }
  }
  return fields;
}

std::string stable_hash(std::string_view text) {
  uint64_t hash = 14695981039346656037ULL;
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

}  // namespace keyhound
