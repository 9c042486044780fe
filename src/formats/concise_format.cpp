#include "formats/concise_format.hpp"

#include "analysis/caret_renderer.hpp"
#include "analysis/terminal_text.hpp"
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
  if (summary.findings == 0) {
    out.write_line(summary_stream_, "All checks passed!\n");
    return;
  }
  out.write_line(summary_stream_, "Found " + counted(summary.findings, "finding", "findings") +
                                      " in " +
                                      counted(summary.files_with_findings, "file", "files") + ".\n");
}

}  // namespace keyhound
