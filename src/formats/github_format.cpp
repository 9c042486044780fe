#include "formats/github_format.hpp"

#include "formats/finding_fields.hpp"

namespace keyhound {
namespace {

std::string escaped(std::string_view text, bool property) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '%': out += "%25"; break;
      case '\r': out += "%0D"; break;
      case '\n': out += "%0A"; break;
      case ':': out += property ? "%3A" : ":"; break;
      case ',': out += property ? "%2C" : ","; break;
      default: out += c;
    }
  }
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
  for (const FindingFields& finding : finding_fields(report)) {
    std::string line = "::warning title=";
    line += escape_workflow_property("keyhound (" + std::string(finding.code) + ")");
    line += ",file=" + file;
    line += ",line=" + std::to_string(finding.line());
    line += ",col=" + std::to_string(finding.column());
    line += ",endLine=" + std::to_string(finding.end_line());
    line += ",endColumn=" + std::to_string(finding.end_column());
    line += "::" + escape_workflow_data(finding.message) + "\n";
    out.write_line(Stream::Stdout, line);
  }
}

}  // namespace keyhound
