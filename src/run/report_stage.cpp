#include "run/report_stage.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/finding_identity.hpp"
#include "analysis/rule_catalog.hpp"
#include "base/path_names.hpp"
#include "analysis/report_filter.hpp"
#include "base/internal_fault.hpp"
#include "base/memory_budget.hpp"
#include "base/plain_file.hpp"
#include "run/file_loop.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kBaselineHeader =
    "# keyhound baseline: count, path (relative to this file), code, function, source text"
    " and callee, tab-separated\n";

bool matches_prefix(const std::vector<std::string>& prefixes, std::string_view code) {
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [&](const std::string& prefix) { return selector_matches(prefix, code); });
}

}  // namespace

bool CodeSelection::reports(std::string_view code, std::string_view path,
                            std::string_view absolute) const {
  if (is_opt_in(code)) {
    if (!std::any_of(select.begin(), select.end(),
                     [&](const std::string& selector) { return selects_opt_in(selector, code); })) {
      return false;
    }
  } else if (!select.empty() && !matches_prefix(select, code)) {
    return false;
  }
  if (matches_prefix(ignore, code)) return false;
  std::vector<std::string> components = path_components(path);
  for (const auto& [pattern, codes] : per_file_ignores) {
    if (pattern.matches(components, absolute, false) && matches_prefix(codes, code)) return false;
  }
  return true;
}

bool CodeSelection::ranks_out(const Finding& finding) const {
  if (!min_confidence) return false;
  const Risk* risk = risk_of(finding);
  return risk != nullptr && risk->confidence < *min_confidence;
}

bool CodeSelection::is_test_code(std::string_view absolute) const {
  if (test_code.empty()) return false;
  std::vector<std::string> components = path_components(relative_path(absolute, project_root));
  // A file outside the project is matched on the part of its path below
  // where the two part.
  auto below = std::find_if(components.begin(), components.end(),
                            [](const std::string& part) { return part != ".."; });
  components.erase(components.begin(), below);
  return is_excluded(test_code, components, absolute, false);
}

const std::vector<std::string>& default_test_paths() {
  static const std::vector<std::string> paths = {"test",        "tests",     "testing",
                                                 "test_*.py",   "*_test.py", "conftest.py"};
  return paths;
}

namespace {

// A baseline holds a line per finding: far below this for any project.
constexpr std::size_t kLargestBaseline = std::size_t{1} << 30;

}  // namespace

namespace {

// Held as a table, a baseline takes about this many bytes a byte of its
// text at worst (short lines, each a node and a string of its own).
constexpr uint64_t kBaselineBytesPerByte = 12;

std::expected<Baseline, std::string> parse_baseline(const std::string& file,
                                                    const std::string& working_directory,
                                                    std::string_view text) {
  Baseline baseline;
  baseline.file = file;
  std::string absolute = absolute_path(file, working_directory);
  baseline.directory = absolute.substr(0, std::max<std::size_t>(absolute.rfind('/'), 1));
  std::string_view rest = text;
  // An editor may have saved it with a byte order mark or CRLF line ends.
  if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
  std::size_t number = 0;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    ++number;
    if (line.empty() || line.starts_with('#')) continue;
    std::size_t tab = line.find('\t');
    std::size_t count = 0;
    auto [after, error] = std::from_chars(line.data(), line.data() + std::min(tab, line.size()),
                                          count);
    // A count too large to hold is the largest there is.
    if (error == std::errc::result_out_of_range) {
      count = SIZE_MAX;
      error = std::errc();
    }
    // count, path, code, function, text: at least four tabs.
    if (tab == std::string_view::npos || error != std::errc() || after != line.data() + tab ||
        count == 0 || std::count(line.begin(), line.end(), '\t') < 4) {
      return std::unexpected("cannot read baseline '" + file + "': line " +
                             std::to_string(number) +
                             " is not 'count<TAB>path<TAB>code<TAB>function<TAB>text'");
    }
    // Counts saturate: a sum past the largest count would wrap to a small
    // one and hide nothing.
    std::size_t& total = baseline.counts[std::string(line.substr(tab + 1))];
    total = count > SIZE_MAX - total ? SIZE_MAX : total + count;
  }
  return baseline;
}

}  // namespace

std::expected<Baseline, std::string> read_baseline(const std::string& file,
                                                   const std::string& working_directory) {
  auto text = read_plain_file(file, PlainReadOptions{.most_bytes = kLargestBaseline});
  if (!text) {
    return std::unexpected("cannot read baseline '" + file + "': " + text.error().message);
  }
  // Held as a table, a baseline takes some times its bytes: refused with a
  // message, not ended by the allocator, when that is more than a share of
  // what is left.
  if (auto refusal = memory_refusal(text->size(), kBaselineBytesPerByte)) {
    return std::unexpected("cannot read baseline '" + file + "': " + *refusal);
  }
  try {
    return parse_baseline(file, working_directory, *text);
  } catch (const std::bad_alloc&) {
    return std::unexpected("cannot read baseline '" + file +
                           "': too large to read in the available memory");
  }
}


std::string baseline_text(const std::map<std::string, std::size_t, std::less<>>& counts) {
  std::string text(kBaselineHeader);
  for (const auto& [key, count] : counts) {
    text += std::to_string(count);
    text += '\t';
    text += key;
    text += '\n';
  }
  return text;
}

ReportStage::ReportStage(std::vector<CodeSelection> selections, std::optional<Baseline> baseline,
                         std::optional<std::string> baseline_directory_for_writing,
                         std::string working_directory)
    : selections_(std::move(selections)),
      baseline_(std::move(baseline)),
      writing_directory_(std::move(baseline_directory_for_writing)),
      working_directory_(std::move(working_directory)) {}

std::string ReportStage::key(const std::string& directory, std::string_view path,
                             const Finding& finding) const {
  return finding_key(relative_path(absolute_path(path, working_directory_), directory), finding,
                     KeyFields::Escaped);
}

namespace {

// An unused suppression counts only for codes this file is checked for: a
// `# noqa: KH002` where KH002 is not selected may well be used. One that
// named codes and has none left says nothing.
void narrow_unused_suppressions(FileReport& report, const CodeSelection& selection,
                                std::string_view absolute) {
  auto named = [](const Finding& finding) {
    const auto* unused = std::get_if<UnusedSuppressionFinding>(&finding);
    return unused != nullptr && !unused->codes.empty();
  };
  if (std::none_of(report.findings.begin(), report.findings.end(), named)) return;
  std::vector<Finding> kept;
  kept.reserve(report.findings.size());
  for (Finding& finding : report.findings) {
    if (named(finding)) {
      auto& codes = std::get<UnusedSuppressionFinding>(finding).codes;
      std::erase_if(codes, [&](const std::string& code) {
        return !selection.reports(code, report.path, absolute);
      });
      if (codes.empty()) continue;
    }
    kept.push_back(std::move(finding));
  }
  report.findings = std::move(kept);
}

}  // namespace

FileTally ReportStage::process(FileReport& report, std::size_t project) const {
  FileTally tally;
  if (report.outcome.status == FileStatus::ReadError) return tally;
  const std::string absolute = absolute_path(report.path, working_directory_);
  // Where the baselines' keys name the file, whatever it showed: a checked
  // file's entries can be stale, an unchecked one's cannot.
  if (baseline_) {
    tally.read_path = key_path_field(relative_path(absolute, baseline_->directory),
                                     KeyFields::Escaped);
  }
  if (writing_directory_) {
    tally.written_path = key_path_field(relative_path(absolute, *writing_directory_),
                                        KeyFields::Escaped);
  }
  if (report.outcome.status != FileStatus::HasFindings) return tally;
  if (project >= selections_.size()) throw InternalFault("a report of no configuration of the run");
  const CodeSelection& selection = selections_[project];
  if (!selection.empty()) {
    // Test code is analysed like the rest but shows nothing: a KeyError
    // there fails a test that its developer runs anyway.
    if (selection.is_test_code(absolute)) {
      report.findings.clear();
      report.outcome = FileOutcome{};
      return tally;
    }
    narrow_unused_suppressions(report, selection, absolute);
    // Whether a code shows depends on the code and the file alone: asked
    // once a code rather than once a finding (each asking matches the
    // path against every per-file pattern).
    std::vector<std::pair<std::string_view, bool>> shown_codes;
    auto reports = [&](std::string_view code) {
      for (const auto& [known, shown] : shown_codes) {
        if (known == code) return shown;
      }
      const bool shown = selection.reports(code, report.path, absolute);
      shown_codes.emplace_back(code, shown);
      return shown;
    };
    filter_report(report, [&](const Finding& finding) {
      return !selection.ranks_out(finding) && reports(code_of(finding));
    });
  }
  if (writing_directory_) {
    for (const Finding& finding : report.findings) {
      if (!std::holds_alternative<FunctionSummary>(finding)) {
        tally.keys.push_back(key(*writing_directory_, report.path, finding));
      }
    }
  }
  if (baseline_) {
    std::map<std::string, std::size_t, std::less<>> used;
    filter_report(report, [&](const Finding& finding) {
      std::string found = key(baseline_->directory, report.path, finding);
      auto recorded = baseline_->counts.find(found);
      if (recorded == baseline_->counts.end() || used[found] >= recorded->second) return true;
      ++used[found];
      tally.hidden.push_back(std::move(found));
      return false;
    });
  }
  return tally;
}

void ReportStage::tally(FileTally tally) {
  if (!tally.read_path.empty()) checked_read_.insert(std::move(tally.read_path));
  if (!tally.written_path.empty()) checked_written_.insert(std::move(tally.written_path));
  for (std::string& key : tally.keys) ++written_[std::move(key)];
  hidden_ += tally.hidden.size();
  for (std::string& key : tally.hidden) ++used_[std::move(key)];
}

std::size_t ReportStage::stale_entries() const {
  if (!baseline_) return 0;
  std::size_t stale = 0;
  for (const auto& [key, count] : baseline_->counts) {
    if (!checked_read_.contains(path_field_of_key(key))) continue;
    auto used = used_.find(key);
    if (used == used_.end() || used->second < count) ++stale;
  }
  return stale;
}

namespace {

// A key's path field back to the path it names (the escapes undone).
std::string unescaped_path(std::string_view field) {
  std::string path;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      path += field[i];
      continue;
    }
    const char next = field[++i];
    path += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return path;
}

}  // namespace

std::size_t ReportStage::keep_unchecked(const Baseline& previous) {
  std::size_t kept = 0;
  for (const auto& [key, count] : previous.counts) {
    const std::string_view field = path_field_of_key(key);
    if (checked_written_.contains(field)) continue;
    // A file that is gone takes its entries with it.
    struct stat status;
    const std::string path = absolute_path(unescaped_path(field), previous.directory);
    if (::stat(path.c_str(), &status) != 0) continue;
    std::size_t& total = written_[key];
    total = count > SIZE_MAX - total ? SIZE_MAX : total + count;
    ++kept;
  }
  return kept;
}

}  // namespace keyhound
