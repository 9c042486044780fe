#include "server/document_findings.hpp"

#include "formats/finding_fields.hpp"
#include "formats/json_text.hpp"

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


namespace {

std::string position_text(std::string_view text, const LineStarts& lines, Position at,
                          PositionEncoding encoding) {
  return JsonObject()
      .number("line", at.row)
      .number("character", character_of(lines.line(text, at.row), at.byte_column, encoding))
      .text();
}

std::string range_text(std::string_view text, const LineStarts& lines, Position start,
                       Position end, PositionEncoding encoding) {
  return JsonObject()
      .raw("start", position_text(text, lines, start, encoding))
      .raw("end", position_text(text, lines, end, encoding))
      .text();
}

}  // namespace

std::string lsp_diagnostics(const std::vector<ShownFinding>& findings, std::string_view text,
                            const LineStarts& lines, const std::string& uri,
                            PositionEncoding encoding) {
  std::string diagnostics = "[";
  for (const ShownFinding& finding : findings) {
    if (diagnostics.size() > 1) diagnostics += ',';
    JsonObject diagnostic;
    diagnostic.raw("range", range_text(text, lines, finding.start, finding.end, encoding))
        .number("severity", static_cast<uint64_t>(severity_of(finding.confidence)))
        .string("code", finding.code)
        .string("source", kDiagnosticSource)
        .string("message", finding.message);
    if (finding.origin) {
      std::string where = "the KeyError comes from ";
      where += finding.origin_text.empty() ? "this lookup" : finding.origin_text;
      const std::string location =
          JsonObject()
              .string("uri", uri)
              .raw("range", range_text(text, lines, *finding.origin, *finding.origin, encoding))
              .text();
      std::string related = "[";
      related += JsonObject().raw("location", location).string("message", where).text();
      related += ']';
      diagnostic.raw("relatedInformation", related);
    }
    diagnostics += diagnostic.text();
  }
  diagnostics += ']';
  return diagnostics;
}

nlohmann::json lsp_range(std::string_view text, const LineStarts& lines, Position start,
                         Position end, PositionEncoding encoding) {
  return nlohmann::json::parse(range_text(text, lines, start, end, encoding));
}

}  // namespace keyhound
