#pragma once

#include "formats/report_format.hpp"

namespace keyhound {

// GitHub Actions workflow commands: one "::warning ..." per finding, which
// the runner shows as an annotation on the line; "::error ..." for a file
// that cannot be read.
class GithubFormat final : public ReportFormat {
 public:
  void render(const FileReport& report, LineWriter& out) const override;
};

// The workflow-command escaping of a message ("%", CR, LF) and of a
// property value (also ":" and ",").
std::string escape_workflow_data(std::string_view text);
std::string escape_workflow_property(std::string_view text);

}  // namespace keyhound
