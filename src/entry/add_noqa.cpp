#include "entry/add_noqa.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>

#include "analysis/analyze_file.hpp"
#include "analysis/caret_renderer.hpp"
#include "analysis/noqa_editor.hpp"
#include "analysis/os_error.hpp"
#include "analysis/terminal_text.hpp"
#include "entry/file_loop.hpp"
#include "entry/output_file.hpp"

namespace keyhound {
namespace {

// Rounds per file: each one suppresses what the last left; two settle every
// file seen so far, the rest is a margin.
constexpr int kMostRounds = 5;

void report_error(LineWriter& out, const std::string& path, const std::string& message) {
  print_file_outcome(out, path, FileOutcome{FileStatus::ReadError, message});
}

std::expected<void, std::string> replace_file(const std::string& path, const std::string& text) {
  struct stat status;
  // A file without write permission stays as it is, even for root.
  if (::stat(path.c_str(), &status) != 0) return std::unexpected(os_error_text(errno));
  if ((status.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) {
    return std::unexpected(os_error_text(EACCES));
  }
  auto file = AtomicOutputFile::create(path);
  if (!file) return std::unexpected(file.error());
  file->write_line(Stream::Stdout, text);
  return file->commit();
}

}  // namespace

AddNoqaResult add_noqa(std::span<const LintInput> inputs, const ReportStage& stage,
                       bool precise, LineWriter& out) {
  AddNoqaResult result;
  for (const LintInput& input : inputs) {
    if (input.is_stdin) continue;
    if (input.error) {
      report_error(out, input.display, *input.error);
      result.any_error = true;
      continue;
    }
    auto source = read_source_file(input.path);
    if (!source) {
      report_error(out, input.display, source.error());
      result.any_error = true;
      continue;
    }
    std::string text = std::move(*source);
    std::size_t added = 0;
    for (int round = 0; round < kMostRounds; ++round) {
      FileReport report = analyze_file(input.display, text, AnalysisOptions{true, precise});
      stage.process(report);
      std::map<uint32_t, std::set<std::string>> codes_by_row;
      for (const Finding& finding : report.findings) {
        if (const auto* access = std::get_if<AccessFinding>(&finding)) {
          codes_by_row[access->comment_row].emplace(kAccessCode);
        } else if (const auto* call = std::get_if<CallFinding>(&finding)) {
          codes_by_row[call->comment_row].emplace(kCallCode);
        } else if (const auto* syntax = std::get_if<SyntaxErrorFinding>(&finding)) {
          codes_by_row[syntax->comment_row].emplace(kSyntaxCode);
        }
      }
      if (codes_by_row.empty()) break;
      NoqaEdit edit = add_noqa_comments(text, codes_by_row);
      if (edit.comments_added == 0) break;
      added += edit.comments_added;
      text = std::move(edit.text);
    }
    if (added == 0) continue;
    if (auto replaced = replace_file(input.path, text); !replaced) {
      out.write_line(Stream::Stderr, "Error writing file '" + terminal_safe_name(input.display) +
                                         "': " + replaced.error() + "\n");
      result.any_error = true;
      continue;
    }
    result.comments += added;
    ++result.files;
  }
  return result;
}

}  // namespace keyhound
