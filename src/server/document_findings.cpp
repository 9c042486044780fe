#include "server/document_findings.hpp"

#include "formats/finding_fields.hpp"

namespace keyhound {

namespace {

// How diagnostics are marked: a ranked finding by its confidence (Error,
// Warning, Information), any other as a warning of keyhound's.
constexpr int kErrorSeverity = 1;
constexpr int kWarningSeverity = 2;
constexpr int kInformationSeverity = 3;

int severity_of(const std::optional<Confidence>& confidence) {
  if (!confidence) return kWarningSeverity;
  switch (*confidence) {
    case Confidence::High:
      return kErrorSeverity;
    case Confidence::Medium:
      return kWarningSeverity;
    case Confidence::Low:
      break;
  }
  return kInformationSeverity;
}
constexpr std::string_view kDiagnosticSource = "keyhound";

nlohmann::json lsp_position(std::string_view text, const LineStarts& lines, Position at,
                            PositionEncoding encoding) {
  return {{"line", at.row},
          {"character", character_of(lines.line(text, at.row), at.byte_column, encoding)}};
}

}  // namespace

std::vector<ShownFinding> shown_findings(const FileReport& report) {
  std::vector<ShownFinding> shown;
  for (const FindingFields& fields : finding_fields(report, presentation_of(report.precise))) {
    ShownFinding finding;
    finding.code = std::string(fields.code);
    finding.message = fields.message;
    finding.start = fields.start;
    finding.end = fields.end;
    finding.comment_row = fields.comment_row;
    finding.lookup = fields.finding != nullptr &&
                     std::holds_alternative<AccessFinding>(*fields.finding);
    if (fields.risk) finding.confidence = fields.risk->confidence;
    if (fields.call != nullptr && fields.call->origin) {
      finding.origin = fields.call->origin->position;
      finding.origin_text = fields.call->origin->display_text;
    }
    shown.push_back(std::move(finding));
  }
  return shown;
}

nlohmann::json lsp_range(std::string_view text, const LineStarts& lines, Position start,
                         Position end, PositionEncoding encoding) {
  return {{"start", lsp_position(text, lines, start, encoding)},
          {"end", lsp_position(text, lines, end, encoding)}};
}

nlohmann::json lsp_diagnostics(const std::vector<ShownFinding>& findings, std::string_view text,
                               const LineStarts& lines, const std::string& uri,
                               PositionEncoding encoding) {
  nlohmann::json diagnostics = nlohmann::json::array();
  for (const ShownFinding& finding : findings) {
    nlohmann::json diagnostic = {{"range", lsp_range(text, lines, finding.start, finding.end, encoding)},
                                 {"severity", severity_of(finding.confidence)},
                                 {"code", finding.code},
                                 {"source", kDiagnosticSource},
                                 {"message", finding.message}};
    if (finding.origin) {
      std::string where = "the KeyError comes from ";
      where += finding.origin_text.empty() ? "this lookup" : finding.origin_text;
      diagnostic["relatedInformation"] = nlohmann::json::array(
          {{{"location",
             {{"uri", uri},
              {"range", lsp_range(text, lines, *finding.origin, *finding.origin, encoding)}}},
            {"message", where}}});
    }
    diagnostics.push_back(std::move(diagnostic));
  }
  return diagnostics;
}

}  // namespace keyhound
