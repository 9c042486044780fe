// The native `keyhound` command, on the same core as the Python module.

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "formats/caret_renderer.hpp"
#include "output/line_writer.hpp"
#include "project/discovery.hpp"
#include "front/fault_report.hpp"
#include "base/path_names.hpp"
#include "output/terminal_text.hpp"
#include "cache/result_cache.hpp"
#include "base/temporary_file.hpp"
#include "run/add_noqa.hpp"
#include "formats/format_registry.hpp"
#include "cli/native_options.hpp"
#include "output/output_file.hpp"
#include "front/out_of_memory.hpp"
#include "run/parallel_lint.hpp"
#include "cli/run_command.hpp"
#include "syntax/parse_memory.hpp"

namespace {

// Exit statuses of the native command.
constexpr int kClean = 0;
constexpr int kIssuesFound = 1;
constexpr int kUsageOrUnreadable = 2;
constexpr int kInternalFault = keyhound::kInternalFaultStatus;

int end_with(const keyhound::CommandExit& exit) {
  keyhound::BestEffortDescriptorWriter out;
  for (const std::string& line : exit.lines) out.write_line(exit.stream, line);
  return exit.status;
}

int run(const std::vector<std::string>& argv) {
  keyhound::CommandDecision decision = keyhound::decide_command(keyhound::native_command(), argv);
  if (const auto* exit = std::get_if<keyhound::CommandExit>(&decision)) return end_with(*exit);
  auto options =
      keyhound::settle_native_options(std::get<keyhound::ParsedArguments>(decision), argv);
  if (!options) return end_with(options.error());

  for (const std::string& warning : options->warnings) {
    keyhound::BestEffortDescriptorWriter().write_line(keyhound::Stream::Stderr, warning);
  }
  std::vector<std::string> skipped;
  std::vector<keyhound::LintInput> inputs =
      keyhound::discover_inputs(options->paths, options->discovery, &skipped);
  for (const std::string& path : skipped) {
    keyhound::BestEffortDescriptorWriter().write_line(
        keyhound::Stream::Stderr,
        "warning: skipping '" + keyhound::terminal_safe_name(path) + "': not a regular file\n");
  }

  keyhound::DescriptorWriter terminal;
  std::vector<std::string> input_paths;
  for (const keyhound::LintInput& input : inputs) {
    if (!input.is_stdin && !input.error) input_paths.push_back(input.path);
  }
  for (const auto& written : {options->output_file, options->write_baseline}) {
    if (written && keyhound::is_one_of(*written, input_paths)) {
      return end_with(keyhound::configuration_error("the output file '" + *written +
                                                    "' is one of the files to check"));
    }
  }
  std::optional<keyhound::AtomicOutputFile> file;
  if (options->output_file) {
    auto created = keyhound::AtomicOutputFile::create(*options->output_file);
    if (!created) return end_with(keyhound::configuration_error(created.error()));
    file.emplace(std::move(*created));
  }
  keyhound::LineWriter& out = file ? static_cast<keyhound::LineWriter&>(*file) : terminal;
  std::unique_ptr<keyhound::ReportFormat> format = keyhound::make_output_format(
      options->output_format,
      keyhound::FormatContext{file ? keyhound::Stream::Stderr : keyhound::Stream::Stdout,
                              options->discovery.working_directory});

  if (inputs.empty()) {
    terminal.write_line(keyhound::Stream::Stderr,
                        "warning: No Python files found under the given path(s)\n");
  }
  const std::string& cwd = options->discovery.working_directory;
  if (options->add_noqa) {
    keyhound::ReportStage selection_only(options->selection, std::nullopt, std::nullopt, cwd);
    keyhound::AddNoqaResult added = keyhound::add_noqa(inputs, selection_only, options->precise, terminal);
    terminal.write_line(keyhound::Stream::Stderr,
                        "Added " + keyhound::counted(added.comments, "noqa comment", "noqa comments") +
                            " to " + keyhound::counted(added.files, "file", "files") + ".\n");
    return added.any_error ? kUsageOrUnreadable : kClean;
  }

  std::optional<keyhound::Baseline> baseline;
  if (options->baseline) {
    auto read = keyhound::read_baseline(*options->baseline, cwd);
    if (!read) return end_with(keyhound::configuration_error(read.error()));
    baseline = std::move(*read);
  }
  std::optional<std::string> writing_directory;
  if (options->write_baseline) {
    std::string absolute = keyhound::absolute_path(*options->write_baseline, cwd);
    writing_directory = absolute.substr(0, std::max<std::size_t>(absolute.rfind('/'), 1));
  }
  std::optional<keyhound::ReportStage> stage;
  if (baseline || writing_directory || !options->selection.empty()) {
    stage.emplace(options->selection, std::move(baseline), writing_directory, cwd);
  }
  std::optional<keyhound::ResultCache> cache;
  if (options->cache_dir) {
    auto opened = keyhound::ResultCache::open(*options->cache_dir, options->cache_origin);
    if (opened) {
      cache.emplace(std::move(*opened));
    } else {
      terminal.write_line(keyhound::Stream::Stderr,
                          "warning: cannot use the cache directory '" +
                              keyhound::terminal_safe_name(*options->cache_dir) +
                              "': " + opened.error() + "; going on without it\n");
    }
  }
  keyhound::LintPlan plan{keyhound::AnalysisOptions{!options->ignore_noqa, options->precise},
                          stage ? &*stage : nullptr, cache ? &*cache : nullptr};
  // A document is held back until it is whole.
  keyhound::RecordCollector records(out);
  keyhound::LineWriter& report_to = format->is_document() ? records : out;
  keyhound::FileLoopResult result =
      keyhound::lint_inputs(inputs, options->jobs, report_to, *format, plan);
  format->finish(result.summary, records.records(), out);
  if (cache) {
    cache->prune();
    if (cache->store_failed()) {
      terminal.write_line(keyhound::Stream::Stderr,
                          "warning: some results could not be written to the cache directory '" +
                              keyhound::terminal_safe_name(cache->directory()) + "'\n");
    }
    if (std::getenv("KEYHOUND_CACHE_STATS") != nullptr) {
      terminal.write_line(keyhound::Stream::Stderr,
                          "cache: " + std::to_string(cache->hits()) + " hits, " +
                              std::to_string(cache->misses()) + " misses, " +
                              std::to_string(cache->rejected()) + " rejected\n");
    }
  }
  if (file) {
    if (auto committed = file->commit(); !committed) {
      return end_with(keyhound::configuration_error(committed.error()));
    }
  }
  if (options->baseline) {
    terminal.write_line(keyhound::Stream::Stderr,
                        "The baseline hid " + keyhound::counted(stage->hidden(), "finding", "findings") +
                            "; " + keyhound::counted(stage->stale_entries(), "entry", "entries") +
                            " of it no longer match" + (stage->stale_entries() == 1 ? "es" : "") +
                            ".\n");
  }
  if (options->write_baseline) {
    auto target = keyhound::AtomicOutputFile::create(*options->write_baseline);
    if (!target) return end_with(keyhound::configuration_error(target.error()));
    target->write_line(keyhound::Stream::Stdout, keyhound::baseline_text(stage->written()));
    if (auto committed = target->commit(); !committed) {
      return end_with(keyhound::configuration_error(committed.error()));
    }
    std::size_t total = 0;
    for (const auto& [key, count] : stage->written()) total += count;
    terminal.write_line(keyhound::Stream::Stderr,
                        "Wrote " + keyhound::counted(total, "finding", "findings") + " to the baseline.\n");
    return result.any_file_unreadable ? kUsageOrUnreadable : kClean;
  }
  // A misspelt path must never let a CI run pass.
  if (result.any_file_unreadable) return kUsageOrUnreadable;
  if (result.any_file_has_issues && !options->exit_zero) return kIssuesFound;
  return kClean;
}

}  // namespace

int main(int argc, char** argv) {
  keyhound::set_out_of_memory_handler(keyhound::end_for_out_of_memory);
  keyhound::end_on_interrupt_signals();
  try {
    return run(std::vector<std::string>(argv, argv + argc));
  } catch (const std::exception& fault) {
    keyhound::report_internal_fault(fault);
    return kInternalFault;
  }
}
