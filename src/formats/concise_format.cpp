#include "formats/concise_format.hpp"

#include "formats/caret_renderer.hpp"
#include "output/color.hpp"
#include "output/stylesheet.hpp"
#include "output/terminal_text.hpp"
#include "formats/finding_fields.hpp"

namespace keyhound {
void ConciseFormat::render(const FileReport& report, LineWriter& out) const {
  if (report.outcome.status == FileStatus::ReadError) {
    print_file_outcome(out, report.path, report.outcome);
    return;
  }
  for (const FindingFields& finding : finding_fields(report, presentation_)) {
    std::string line;
    append_terminal_safe_name(line, report.path);
    if (finding.cell() != 0) line += ":cell " + std::to_string(finding.cell());
    line += ':' + std::to_string(finding.line()) + ':' + std::to_string(finding.column()) + ": ";
    // Coloured as the full format colours its head, by the same decision
    // (a terminal, or CLICOLOR_FORCE), taken once findings are shown.
    append_styled(line, finding.code,
                  (SHOULD_COLORIZE.get().should_colorize() ? Stylesheet::styled()
                                                           : Stylesheet::plain())
                      .warning_label);
    if (finding.risk) {
      line += " [";
      line += confidence_name(finding.risk->confidence);
      line += ']';
    }
    line += ' ';
    append_terminal_safe_name(line, finding.message);
    line += '\n';
    out.write_line(Stream::Stdout, line);
  }
}

void ConciseFormat::finish(const RunSummary& summary, std::span<const std::string>,
                           LineWriter& out) const {
  print_run_summary(out, summary_stream_, summary);
}

}  // namespace keyhound
