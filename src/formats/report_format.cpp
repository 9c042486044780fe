#include "formats/report_format.hpp"

#include <variant>

#include "output/terminal_text.hpp"

namespace keyhound {

std::size_t count_findings(const FileReport& report) {
  std::size_t count = 0;
  for (const Finding& finding : report.findings) {
    if (const auto* access = std::get_if<AccessFinding>(&finding)) {
      if (report.shows(*access)) ++count;
    } else if (!std::holds_alternative<FunctionSummary>(finding)) {
      ++count;
    }
  }
  return count;
}

void print_run_summary(LineWriter& out, Stream stream, const RunSummary& summary) {
  if (summary.findings == 0 && summary.read_errors == 0) {
    out.write_line(stream, "All checks passed!\n");
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
  out.write_line(stream, line + ".\n");
}

}  // namespace keyhound
