#pragma once

#include "formats/presentation.hpp"
#include "formats/report_format.hpp"

namespace keyhound {

// `json-lines` and `json` write one JSON object per finding: code,
// message, filename, function, location and end_location ({"row",
// "column"}, 1-based, code points; the end is the column after the node),
// callee and origin for call findings, noqa_row, severity. A file that
// cannot be read is an object with a null code and the severity "error".

// `json`: one array of those objects, written whole at the end of the run.
class JsonFormat final : public ReportFormat {
 public:
  explicit JsonFormat(const Presentation& presentation) : presentation_(presentation) {}
  void render(const FileReport& report, LineWriter& out) const override;
  bool is_document() const override { return true; }
  void finish(const RunSummary& summary, std::span<const std::string> records,
              LineWriter& out) const override;

 private:
  Presentation presentation_;
};

// `json-lines`: the same objects, one per line, as each file is done.
class JsonLinesFormat final : public ReportFormat {
 public:
  explicit JsonLinesFormat(const Presentation& presentation) : presentation_(presentation) {}
  void render(const FileReport& report, LineWriter& out) const override;

 private:
  Presentation presentation_;
};

}  // namespace keyhound
