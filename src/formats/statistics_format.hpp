#pragma once

#include "formats/report_format.hpp"

namespace keyhound {

// --statistics: instead of the findings, one line per code with its count,
// most frequent first, then the run's summary on `summary_stream`. As JSON,
// the same counts as objects ({"code", "name", "count"}) in an array or one
// a line, and no summary: the output is the document alone.
class StatisticsFormat final : public ReportFormat {
 public:
  enum class Shape { Table, Json, JsonLines };
  StatisticsFormat(Stream summary_stream, Shape shape = Shape::Table)
      : summary_stream_(summary_stream), shape_(shape) {}

  void render(const FileReport& report, LineWriter& out) const override;
  // The counts need every file: each finding is a record of its code.
  bool is_document() const override { return true; }
  void finish(const RunSummary& summary, std::span<const std::string> records,
              LineWriter& out) const override;

 private:
  Stream summary_stream_;
  Shape shape_;
};

}  // namespace keyhound
