#include "formats/json_format.hpp"

#include <variant>

#include "formats/finding_fields.hpp"
#include "formats/json_text.hpp"

namespace keyhound {
namespace {

// Each record on a line of its own.
void write_records(const FileReport& report, const Presentation& presentation, LineWriter& out) {
  if (report.outcome.status == FileStatus::ReadError) {
    std::string record = JsonObject()
                             .null("code")
                             .string("message", "Error reading file: " + report.outcome.message)
                             .string("filename", report.path)
                             .null("function")
                             .null("location")
                             .null("end_location")
                             .null("noqa_row")
                             .string("severity", "error")
                             .text();
    out.write_line(Stream::Stdout, record + "\n");
    return;
  }
  for (const FindingFields& finding : finding_fields(report, presentation)) {
    JsonObject record;
    record.string("code", finding.code)
        .string("message", finding.message)
        .string("filename", report.path);
    // In a notebook, the cell; the rows are then those of the cell.
    if (finding.cell() != 0) record.number("cell", finding.cell());
    record.string("function", finding.function)
        .raw("location", json_location(finding.line(), finding.column()))
        .raw("end_location", json_location(finding.end_line(), finding.end_column()));
    // The command's default reports quote the lookup; the module's stay as
    // they always were.
    if (presentation.quotes_source && std::holds_alternative<AccessFinding>(*finding.finding)) {
      record.string("source", finding.display_text);
    }
    if (finding.call != nullptr) {
      if (presentation.quotes_source) record.string("source", finding.display_text);
      record.string("callee", finding.call->callee);
      if (finding.call->origin) {
        const Position& at = finding.call->origin->position;
        const ShownRow shown = shown_row(report.cells, at.row);
        JsonObject origin;
        origin.string("filename", report.path);
        if (shown.cell != 0) origin.number("cell", shown.cell);
        origin.number("row", shown.row).number("column", uint64_t{at.code_point_column} + 1);
        if (presentation.quotes_source) {
          origin.string("source", finding.call->origin->display_text);
        }
        record.raw("origin", origin.text());
      } else {
        record.null("origin");
      }
    }
    // Precise mode ranks its lookups and calls: how likely, and why.
    if (finding.risk) {
      record.string("confidence", confidence_name(finding.risk->confidence))
          .string("reason", finding.risk->reason);
    }
    record.number("noqa_row", finding.noqa_line()).string("severity", "warning");
    out.write_line(Stream::Stdout, record.text() + "\n");
  }
}

}  // namespace

void JsonFormat::render(const FileReport& report, LineWriter& out) const {
  write_records(report, presentation_, out);
}

void JsonFormat::finish(const RunSummary&, std::span<const std::string> records,
                        LineWriter& out) const {
  if (records.empty()) {
    out.write_line(Stream::Stdout, "[]\n");
    return;
  }
  std::string document = "[\n";
  for (std::size_t i = 0; i < records.size(); ++i) {
    document += "  ";
    // Each record ends with its line feed; the comma goes before it.
    std::string_view record = records[i];
    record.remove_suffix(1);
    document += record;
    document += i + 1 < records.size() ? ",\n" : "\n";
  }
  document += "]\n";
  out.write_line(Stream::Stdout, document);
}

void JsonLinesFormat::render(const FileReport& report, LineWriter& out) const {
  write_records(report, presentation_, out);
}

}  // namespace keyhound
