#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>
#include <string_view>

#include "analysis/findings.hpp"
#include "output/line_writer.hpp"

namespace keyhound {

// What a run found, for the formats that close with a summary.
struct RunSummary {
  std::size_t files = 0;
  std::size_t files_with_findings = 0;
  // Access and call findings (function summaries are not findings).
  std::size_t findings = 0;
  std::size_t read_errors = 0;
  // The names of the files that could not be read, in input order.
  std::vector<std::string> unreadable;
};

// "1 finding", "2 findings": a count with the noun that fits it.
inline std::string counted(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// The findings count of one report: what the reports show (module-level
// lookups are recorded but not shown).
std::size_t count_findings(const FileReport& report);

// "Found 3 findings in 2 files." or "All checks passed!", and the files
// that could not be read.
void print_run_summary(LineWriter& out, Stream stream, const RunSummary& summary);

// One way of writing reports: the default caret diagnostics, or one of the
// machine-readable formats.
class ReportFormat {
 public:
  virtual ~ReportFormat() = default;

  // One file's report, rendered on its own. Called from worker threads, so
  // it must touch nothing but its arguments.
  virtual void render(const FileReport& report, LineWriter& out) const = 0;

  // Whether the report is one document (a JSON array, a SARIF log): the
  // standard-output lines of render() are then records, kept until the run
  // ends and handed to finish(), so that a fault never leaves half a
  // document.
  virtual bool is_document() const { return false; }

  // After the last file: a summary line, or the whole document.
  virtual void finish(const RunSummary& summary, std::span<const std::string> records,
                      LineWriter& out) const {
    (void)summary;
    (void)records;
    (void)out;
  }
};

}  // namespace keyhound
