#pragma once

#include <expected>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "analysis/findings.hpp"
#include "project/exclusion.hpp"

namespace keyhound {

// Which codes a run reports: --select, --ignore and --per-file-ignores,
// codes matched by prefix ("KH" is every code).
struct CodeSelection {
  std::vector<std::string> select;
  std::vector<std::string> ignore;
  std::vector<std::pair<ExclusionPattern, std::vector<std::string>>> per_file_ignores;
  // Test code, which reports nothing: files matching these patterns, taken
  // against the path relative to `project_root`. None: tests are reported.
  std::vector<ExclusionPattern> test_code;
  std::string project_root;
  // Precise mode: findings of a lower confidence are not reported.
  std::optional<Confidence> min_confidence;

  bool empty() const {
    return select.empty() && ignore.empty() && per_file_ignores.empty() && test_code.empty() &&
           !min_confidence;
  }
  bool ranks_out(const Finding& finding) const;
  bool reports(std::string_view code, std::string_view path, std::string_view absolute) const;
  bool is_test_code(std::string_view absolute) const;
};

// The tier precise mode reports from when nothing says otherwise: what
// is rarely worth reading (a constant key into the program's own mapping)
// is left out.
inline constexpr Confidence kDefaultMinConfidence = Confidence::Medium;

// The names of test code: a directory `test`, `tests` or `testing`, a file
// `test_*.py`, `*_test.py` or `conftest.py`.
const std::vector<std::string>& default_test_paths();

// A baseline: findings recorded once, keyed without line numbers, with a
// count per key.
struct Baseline {
  std::string file;
  // Absolute: keys hold paths relative to it.
  std::string directory;
  std::map<std::string, std::size_t, std::less<>> counts;
};

std::expected<Baseline, std::string> read_baseline(const std::string& file,
                                                   const std::string& working_directory);
// The text of a baseline holding `counts`, one entry a line, sorted.
std::string baseline_text(const std::map<std::string, std::size_t, std::less<>>& counts);

// What one file leaves for the run's totals.
struct FileTally {
  // The keys of its findings after selection, for --write-baseline.
  std::vector<std::string> keys;
  // The keys the baseline hid.
  std::vector<std::string> hidden;
  // The file's path as the baseline's keys hold it (relative to the
  // baseline read and to the one written), whatever the file showed.
  std::string read_path;
  std::string written_path;
};

// Selection and baseline, applied to each report between the analysis and
// its rendering: process() in the worker, tally() in input order.
class ReportStage {
 public:
  // `selections` holds one selection per configuration of the run, the
  // run's own first; a report is selected by the one of its input.
  ReportStage(std::vector<CodeSelection> selections, std::optional<Baseline> baseline,
              std::optional<std::string> baseline_directory_for_writing,
              std::string working_directory);

  FileTally process(FileReport& report, std::size_t project = 0) const;
  void tally(FileTally tally);

  // Findings the baseline hid, and its entries that matched less often
  // than recorded (stale). Only the files the run checked can make an
  // entry stale: pre-commit names the staged files alone.
  std::size_t hidden() const { return hidden_; }
  std::size_t stale_entries() const;
  // Every key of the run with its count, for --write-baseline.
  const std::map<std::string, std::size_t, std::less<>>& written() const { return written_; }
  // The entries of `previous` (the baseline being replaced) for files this
  // run did not check but which still exist, added to written(): how many
  // entries were kept that way.
  std::size_t keep_unchecked(const Baseline& previous);

 private:
  std::string key(const std::string& directory, std::string_view path,
                  const Finding& finding) const;

  std::vector<CodeSelection> selections_;
  std::optional<Baseline> baseline_;
  std::optional<std::string> writing_directory_;
  std::string working_directory_;
  std::size_t hidden_ = 0;
  std::map<std::string, std::size_t, std::less<>> used_;
  std::map<std::string, std::size_t, std::less<>> written_;
  std::set<std::string, std::less<>> checked_read_;
  std::set<std::string, std::less<>> checked_written_;
};

}  // namespace keyhound
