#include "formats/concise_format.hpp"

#include "formats/caret_renderer.hpp"
#include "output/terminal_text.hpp"
#include "formats/finding_fields.hpp"

namespace keyhound {
namespace {

}  // namespace

void ConciseFormat::render(const FileReport& report, LineWriter& out) const {
  if (report.outcome.status == FileStatus::ReadError) {
    print_file_outcome(out, report.path, report.outcome);
    return;
  }
  for (const FindingFields& finding : finding_fields(report)) {
    std::string line;
    append_terminal_safe_name(line, report.path);
    line += ':' + std::to_string(finding.line()) + ':' + std::to_string(finding.column()) + ": ";
    line += finding.code;
    line += ' ';
    line += finding.message;
    line += '\n';
    out.write_line(Stream::Stdout, line);
  }
}

void ConciseFormat::finish(const RunSummary& summary, std::span<const std::string>,
                           LineWriter& out) const {
  if (summary.findings == 0 && summary.read_errors == 0) {
    out.write_line(summary_stream_, "All checks passed!\n");
    return;
  }
  std::string line = summary.findings == 0
                         ? std::string("No findings")
                         : "Found " + counted(summary.findings, "finding", "findings") + " in " +
                               counted(summary.files_with_findings, "file", "files");
  if (summary.read_errors > 0) {
    // A file that could not be read is never a pass: the line says which.
    constexpr std::size_t kMostNamed = 5;
    line += "; " + counted(summary.read_errors, "file", "files") + " could not be read: ";
    for (std::size_t i = 0; i < summary.unreadable.size() && i < kMostNamed; ++i) {
      if (i > 0) line += ", ";
      line += '\'';
      append_terminal_safe_name(line, summary.unreadable[i]);
      line += '\'';
    }
    if (summary.unreadable.size() > kMostNamed) {
      line += " and " + std::to_string(summary.unreadable.size() - kMostNamed) + " more";
    }
  }
  out.write_line(summary_stream_, line + ".\n");
}

}  // namespace keyhound
