#pragma once

#include <string>

#include "formats/presentation.hpp"
#include "formats/report_format.hpp"

namespace keyhound {

// One SARIF 2.1.0 log with one run: the tool and its rules, a result per
// finding (code-point columns, a fingerprint that survives edits elsewhere),
// and a notification per file that could not be read. Written whole at the
// end of the run.
class SarifFormat final : public ReportFormat {
 public:
  // Artifact URIs are relative to `working_directory` (absolute).
  SarifFormat(std::string working_directory, const Presentation& presentation)
      : working_directory_(std::move(working_directory)), presentation_(presentation) {}
  void render(const FileReport& report, LineWriter& out) const override;
  bool is_document() const override { return true; }
  void finish(const RunSummary& summary, std::span<const std::string> records,
              LineWriter& out) const override;

 private:
  std::string artifact_uri(std::string_view path) const;
  std::string working_directory_;
  Presentation presentation_;
};

}  // namespace keyhound
