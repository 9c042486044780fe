#include "server/document_findings.hpp"

#include <algorithm>
#include <charconv>

#include "formats/finding_fields.hpp"
#include "formats/json_text.hpp"

namespace keyhound {

namespace {

// The literals appended below are views, whose length is known where they
// are written rather than counted at each of a report's thousands of uses.
using namespace std::string_view_literals;

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
  std::vector<FindingFields> all = finding_fields(report, presentation_of(report.precise));
  std::vector<ShownFinding> shown;
  shown.reserve(all.size());
  for (FindingFields& fields : all) {
    ShownFinding finding;
    finding.code = std::string(fields.code);
    finding.message = std::move(fields.message);
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

// The diagnostics are written straight into the one message, in the form
// JsonObject writes (`{"name": value, ...}`): at every keystroke they are
// the larger part of what the server writes.
class DiagnosticsWriter {
 public:
  DiagnosticsWriter(std::string& out, std::string_view text, const LineStarts& lines,
                    PositionEncoding encoding)
      : out_(out), text_(text), lines_(lines), encoding_(encoding) {}

  void range(Position start, Position end) {
    out_ += "{\"start\": "sv;
    position(start);
    out_ += ", \"end\": "sv;
    position(end);
    out_ += '}';
  }

  void number(uint64_t value) {
    char digits[24];
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out_ += std::string_view(digits, std::min(static_cast<std::size_t>(end - digits), sizeof digits));
  }

 private:
  void position(Position at) {
    out_ += "{\"line\": "sv;
    number(at.row);
    out_ += ", \"character\": "sv;
    number(character_of(lines_.line(text_, at.row), at.byte_column, encoding_));
    out_ += '}';
  }

  std::string& out_;
  std::string_view text_;
  const LineStarts& lines_;
  PositionEncoding encoding_;
};

std::string range_text(std::string_view text, const LineStarts& lines, Position start,
                       Position end, PositionEncoding encoding) {
  std::string range;
  DiagnosticsWriter(range, text, lines, encoding).range(start, end);
  return range;
}

}  // namespace

std::string lsp_diagnostics(const std::vector<ShownFinding>& findings, std::string_view text,
                            const LineStarts& lines, const std::string& uri,
                            PositionEncoding encoding) {
  std::string out = "[";
  // About what a diagnostic takes, so that the text is not copied as it grows.
  out.reserve(findings.size() * 320);
  DiagnosticsWriter write(out, text, lines, encoding);
  for (const ShownFinding& finding : findings) {
    if (out.size() > 1) out += ',';
    out += "{\"range\": "sv;
    write.range(finding.start, finding.end);
    out += ", \"severity\": "sv;
    write.number(static_cast<uint64_t>(severity_of(finding.confidence)));
    out += ", \"code\": "sv;
    append_json_string(out, finding.code);
    out += ", \"source\": "sv;
    append_json_string(out, kDiagnosticSource);
    out += ", \"message\": "sv;
    append_json_string(out, finding.message);
    if (finding.origin) {
      std::string where = "the KeyError comes from ";
      where += finding.origin_text.empty() ? "this lookup" : finding.origin_text;
      out += ", \"relatedInformation\": [{\"location\": {\"uri\": "sv;
      append_json_string(out, uri);
      out += ", \"range\": "sv;
      write.range(*finding.origin, *finding.origin);
      out += "}, \"message\": "sv;
      append_json_string(out, where);
      out += "}]"sv;
    }
    out += '}';
  }
  out += ']';
  return out;
}

nlohmann::json lsp_range(std::string_view text, const LineStarts& lines, Position start,
                         Position end, PositionEncoding encoding) {
  return nlohmann::json::parse(range_text(text, lines, start, end, encoding));
}

}  // namespace keyhound
