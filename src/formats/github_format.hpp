#pragma once

#include <optional>

#include "formats/presentation.hpp"
#include "formats/report_format.hpp"

namespace keyhound {

// GitHub Actions workflow commands: one "::warning ..." per finding, which
// the runner shows as an annotation on the line; "::error ..." for a file
// that cannot be read. Made with a summary stream, it closes the run with
// its total there, which the log shows as a plain line.
class GithubFormat final : public ReportFormat {
 public:
  GithubFormat(const Presentation& presentation, Stream summary_stream)
      : presentation_(presentation), summary_stream_(summary_stream) {}

  void render(const FileReport& report, LineWriter& out) const override;
  void finish(const RunSummary& summary, std::span<const std::string> records,
              LineWriter& out) const override;

 private:
  Presentation presentation_;
  Stream summary_stream_;
};

// The workflow-command escaping of a message ("%", CR, LF) and of a
// property value (also ":" and ",").
std::string escape_workflow_data(std::string_view text);
std::string escape_workflow_property(std::string_view text);

}  // namespace keyhound
