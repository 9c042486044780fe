#pragma once

#include "formats/report_format.hpp"

namespace keyhound {

// --statistics: instead of the findings, one line per code with its count,
// most frequent first, then the run's summary on `summary_stream`.
class StatisticsFormat final : public ReportFormat {
 public:
  explicit StatisticsFormat(Stream summary_stream) : summary_stream_(summary_stream) {}

  void render(const FileReport& report, LineWriter& out) const override;
  // The counts need every file: each finding is a record of its code.
  bool is_document() const override { return true; }
  void finish(const RunSummary& summary, std::span<const std::string> records,
              LineWriter& out) const override;

 private:
  Stream summary_stream_;
};

}  // namespace keyhound
