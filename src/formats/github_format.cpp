#include "formats/github_format.hpp"

#include "output/terminal_text.hpp"
#include "formats/finding_fields.hpp"

namespace keyhound {
namespace {

// The workflow-command syntax: `%`, CR and LF always, and in properties
// `:` and `,`, as percent escapes; every other control character (and what
// else a terminal would act on) as in every other output.
std::string escaped(std::string_view text, bool property) {
  std::string out;
  std::size_t plain_start = 0;
  auto flush = [&](std::size_t end) {
    append_terminal_safe_name(out, text.substr(plain_start, end - plain_start));
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char* escape = nullptr;
    switch (text[i]) {
      case '%': escape = "%25"; break;
      case '\r': escape = "%0D"; break;
      case '\n': escape = "%0A"; break;
      case ':': escape = property ? "%3A" : nullptr; break;
      case ',': escape = property ? "%2C" : nullptr; break;
      default: break;
    }
    if (escape == nullptr) continue;
    flush(i);
    out += escape;
    plain_start = i + 1;
  }
  flush(text.size());
  return out;
}

}  // namespace

std::string escape_workflow_data(std::string_view text) { return escaped(text, false); }
std::string escape_workflow_property(std::string_view text) { return escaped(text, true); }

void GithubFormat::render(const FileReport& report, LineWriter& out) const {
  const std::string file = escape_workflow_property(report.path);
  if (report.outcome.status == FileStatus::ReadError) {
    out.write_line(Stream::Stdout, "::error title=keyhound,file=" + file + "::" +
                                       escape_workflow_data("Error reading file: " +
                                                            report.outcome.message) +
                                       "\n");
    return;
  }
  for (const FindingFields& finding : finding_fields(report, presentation_)) {
    // A ranked finding is an error, a warning or a notice by its confidence.
    std::string line = "::warning title=";
    if (finding.risk && finding.risk->confidence == Confidence::High) line = "::error title=";
    if (finding.risk && finding.risk->confidence == Confidence::Low) line = "::notice title=";
    std::string title = "keyhound (" + std::string(finding.code);
    if (finding.cell() != 0) title += ", cell " + std::to_string(finding.cell());
    line += escape_workflow_property(title + ")");
    line += ",file=" + file;
    line += ",line=" + std::to_string(finding.line());
    line += ",col=" + std::to_string(finding.column());
    line += ",endLine=" + std::to_string(finding.end_line());
    line += ",endColumn=" + std::to_string(finding.end_column());
    line += "::" + escape_workflow_data(finding.message) + "\n";
    out.write_line(Stream::Stdout, line);
  }
}

void GithubFormat::finish(const RunSummary& summary, std::span<const std::string>,
                          LineWriter& out) const {
  if (presentation_.run_total) print_run_summary(out, summary_stream_, summary);
}

}  // namespace keyhound
