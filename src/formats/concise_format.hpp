#pragma once

#include "formats/presentation.hpp"
#include "formats/report_format.hpp"

namespace keyhound {

// One line per finding, "path:line:column: KHxxx message" (code-point
// columns), then one summary line on `summary_stream`.
class ConciseFormat final : public ReportFormat {
 public:
  ConciseFormat(const Presentation& presentation, Stream summary_stream)
      : presentation_(presentation), summary_stream_(summary_stream) {}
  void render(const FileReport& report, LineWriter& out) const override;
  void finish(const RunSummary& summary, std::span<const std::string> records,
              LineWriter& out) const override;

 private:
  Presentation presentation_;
  Stream summary_stream_;
};

}  // namespace keyhound
