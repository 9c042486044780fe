// The native command's run: `keyhound [check] [OPTIONS] [PATHS]...`, from
// its arguments to its exit status.

#include "cli/native_run.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "analysis/rule_catalog.hpp"
#include "base/path_names.hpp"
#include "cache/result_cache.hpp"
#include "cli/explain.hpp"
#include "cli/native_options.hpp"
#include "cli/run_command.hpp"
#include "formats/format_registry.hpp"
#include "output/line_writer.hpp"
#include "output/output_file.hpp"
#include "output/terminal_text.hpp"
#include "project/discovery.hpp"
#include "run/add_noqa.hpp"
#include "run/parallel_lint.hpp"

namespace {

// Exit statuses of the native command.
constexpr int kClean = 0;
constexpr int kIssuesFound = 1;
constexpr int kUsageOrUnreadable = 2;

int end_with(const keyhound::CommandExit& exit) {
  keyhound::BestEffortDescriptorWriter out;
  for (const std::string& line : exit.lines) out.write_line(exit.stream, line);
  return exit.status;
}

void warn(const std::string& line) {
  keyhound::BestEffortDescriptorWriter().write_line(keyhound::Stream::Stderr, line);
}

// The inputs of the run, with a warning for each file a walk passed over.
std::vector<keyhound::LintInput> find_inputs(const keyhound::NativeOptions& options) {
  std::vector<std::string> skipped;
  std::vector<keyhound::LintInput> inputs;
  if (options.path_projects.empty()) {
    inputs = keyhound::discover_inputs(options.paths, options.discovery, &skipped);
  } else {
    // Each path is walked with the exclusions of its own configuration.
    for (std::size_t i = 0; i < options.paths.size(); ++i) {
      const std::size_t project = options.path_projects[i];
      const keyhound::DiscoveryOptions& discovery =
          project == 0 ? options.discovery : options.other_projects[project - 1].discovery;
      for (keyhound::LintInput& input :
           keyhound::discover_inputs(std::span(options.paths).subspan(i, 1), discovery, &skipped)) {
        input.project = project;
        inputs.push_back(std::move(input));
      }
    }
  }
  for (const std::string& path : skipped) {
    warn("warning: skipping '" + keyhound::terminal_safe_name(path) + "': not a regular file\n");
  }
  if (inputs.empty()) warn("warning: No Python files found under the given path(s)\n");
  return inputs;
}

// An output that would overwrite one of the files to check, named.
std::optional<std::string> output_among_inputs(const keyhound::NativeOptions& options,
                                               const std::vector<keyhound::LintInput>& inputs) {
  std::vector<std::string> input_paths;
  for (const keyhound::LintInput& input : inputs) {
    if (!input.is_stdin && !input.error) input_paths.push_back(input.path);
  }
  for (const auto& written : {options.output_file, options.write_baseline}) {
    if (written && keyhound::is_one_of(*written, input_paths)) return *written;
  }
  return std::nullopt;
}

// The selection of each configuration of the run, the run's own first.
std::vector<keyhound::CodeSelection> selections(const keyhound::NativeOptions& options) {
  std::vector<keyhound::CodeSelection> selected{options.selection};
  for (const auto& project : options.other_projects) selected.push_back(project.selection);
  return selected;
}

int add_noqa_comments(const keyhound::NativeOptions& options,
                      const std::vector<keyhound::LintInput>& inputs,
                      keyhound::LineWriter& terminal) {
  keyhound::ReportStage selection_only(selections(options), std::nullopt, std::nullopt,
                                       options.discovery.working_directory);
  std::vector<std::optional<std::string>> project_roots{options.configuration_directory};
  for (const auto& project : options.other_projects) {
    project_roots.push_back(project.configuration_directory);
  }
  keyhound::AddNoqaResult added =
      keyhound::add_noqa(inputs, selection_only, options.precise, terminal, project_roots);
  terminal.write_line(keyhound::Stream::Stderr,
                      "Added " + keyhound::counted(added.comments, "noqa comment", "noqa comments") +
                          " to " + keyhound::counted(added.files, "file", "files") + ".\n");
  return added.any_error ? kUsageOrUnreadable : kClean;
}

// Selection and the baseline, when the run has either.
std::expected<std::optional<keyhound::ReportStage>, keyhound::CommandExit> report_stage(
    const keyhound::NativeOptions& options) {
  const std::string& cwd = options.discovery.working_directory;
  std::optional<keyhound::Baseline> baseline;
  if (options.baseline) {
    auto read = keyhound::read_baseline(*options.baseline, cwd);
    if (!read) return std::unexpected(keyhound::configuration_error(read.error()));
    baseline = std::move(*read);
  }
  std::optional<std::string> writing_directory;
  if (options.write_baseline) {
    std::string absolute = keyhound::absolute_path(*options.write_baseline, cwd);
    writing_directory = absolute.substr(0, std::max<std::size_t>(absolute.rfind('/'), 1));
  }
  std::vector<keyhound::CodeSelection> selected = selections(options);
  bool selects = std::any_of(selected.begin(), selected.end(),
                             [](const keyhound::CodeSelection& s) { return !s.empty(); });
  std::optional<keyhound::ReportStage> stage;
  if (baseline || writing_directory || selects) {
    stage.emplace(std::move(selected), std::move(baseline), writing_directory, cwd);
  }
  return stage;
}

std::optional<keyhound::ResultCache> open_cache(const keyhound::NativeOptions& options) {
  if (!options.cache_dir) return std::nullopt;
  auto opened = keyhound::ResultCache::open(*options.cache_dir, options.cache_origin);
  if (opened) return std::move(*opened);
  warn("warning: cannot use the cache directory '" +
       keyhound::terminal_safe_name(*options.cache_dir) + "': " + opened.error() +
       "; going on without it\n");
  return std::nullopt;
}

void close_cache(const keyhound::ResultCache& cache) {
  cache.prune();
  if (cache.store_failed()) {
    warn("warning: some results could not be written to the cache directory '" +
         keyhound::terminal_safe_name(cache.directory()) + "'\n");
  }
  if (std::getenv("KEYHOUND_CACHE_STATS") != nullptr) {
    warn("cache: " + std::to_string(cache.hits()) + " hits, " + std::to_string(cache.misses()) +
         " misses, " + std::to_string(cache.rejected()) + " rejected, " +
         std::to_string(cache.hashed()) + " hashed\n");
  }
}

// After the report: the baseline's counts, or the new baseline written.
std::expected<void, keyhound::CommandExit> finish_baseline(const keyhound::NativeOptions& options,
                                                           keyhound::ReportStage* stage) {
  if (options.baseline) {
    warn("The baseline hid " + keyhound::counted(stage->hidden(), "finding", "findings") + "; " +
         keyhound::counted(stage->stale_entries(), "entry", "entries") + " of it no longer match" +
         (stage->stale_entries() == 1 ? "es" : "") + ".\n");
  }
  if (!options.write_baseline) return {};
  // A run that checked only some files (pre-commit names the staged ones)
  // keeps the entries of the others.
  std::size_t kept = 0;
  {
    struct stat existing;
    if (::stat(options.write_baseline->c_str(), &existing) == 0) {
      auto previous = keyhound::read_baseline(*options.write_baseline,
                                              options.discovery.working_directory);
      if (!previous) return std::unexpected(keyhound::configuration_error(previous.error()));
      kept = stage->keep_unchecked(*previous);
    }
  }
  auto target = keyhound::AtomicOutputFile::create(*options.write_baseline);
  if (!target) return std::unexpected(keyhound::configuration_error(target.error()));
  target->write_line(keyhound::Stream::Stdout, keyhound::baseline_text(stage->written()));
  if (auto committed = target->commit(); !committed) {
    return std::unexpected(keyhound::configuration_error(committed.error()));
  }
  std::size_t total = 0;
  for (const auto& [key, count] : stage->written()) total += count;
  warn("Wrote " + keyhound::counted(total, "finding", "findings") + " to the baseline" +
       (kept > 0 ? " (" + keyhound::counted(kept, "entry", "entries") +
                       " of files this run did not check kept as they were)"
                 : std::string()) +
       ".\n");
  return {};
}

// Whether some configuration of the run asks for unused suppressions
// (KH100), which precise mode with suppressions honoured can report.
bool reports_unused_suppressions(const keyhound::NativeOptions& options) {
  if (!options.precise || options.ignore_noqa) return false;
  auto asks = [](const keyhound::CodeSelection& selection) {
    return keyhound::selects_unused_suppressions(selection.select);
  };
  if (asks(options.selection)) return true;
  return std::any_of(options.other_projects.begin(), options.other_projects.end(),
                     [&](const auto& project) { return asks(project.selection); });
}

// Lints the inputs into `out` in the chosen format; the run's outcome.
keyhound::FileLoopResult lint(const keyhound::NativeOptions& options,
                              const std::vector<keyhound::LintInput>& inputs,
                              keyhound::LineWriter& out, bool to_file,
                              keyhound::ReportStage* stage,
                              const keyhound::ResultCache* cache) {
  const keyhound::FormatContext context{
      to_file ? keyhound::Stream::Stderr : keyhound::Stream::Stdout,
      options.discovery.working_directory, keyhound::presentation_of(options.precise)};
  std::unique_ptr<keyhound::ReportFormat> format =
      options.statistics ? keyhound::make_statistics_format(context, options.output_format)
                         : keyhound::make_output_format(options.output_format, context);
  keyhound::LintPlan plan{keyhound::AnalysisOptions{!options.ignore_noqa, options.precise,
                                                    reports_unused_suppressions(options)},
                          stage, cache};
  // A document is held back until it is whole.
  keyhound::RecordCollector records(out);
  keyhound::LineWriter& report_to = format->is_document() ? records : out;
  keyhound::FileLoopResult result = keyhound::lint_inputs(inputs, options.jobs, report_to, *format, plan);
  format->finish(result.summary, records.records(), out);
  return result;
}

// --show-files: each file the run would check, in the order it would check
// them; a path that cannot be walked is an error, as in a run.
int show_files(const std::vector<keyhound::LintInput>& inputs) {
  keyhound::DescriptorWriter out;
  bool any_error = false;
  for (const keyhound::LintInput& input : inputs) {
    if (input.error) {
      out.write_line(keyhound::Stream::Stderr, "Error reading file '" +
                                                   keyhound::terminal_safe_name(input.display) +
                                                   "': " + *input.error + "\n");
      any_error = true;
      continue;
    }
    out.write_line(keyhound::Stream::Stdout, keyhound::terminal_safe_name(input.display) + "\n");
  }
  return any_error ? kUsageOrUnreadable : kClean;
}

// --show-settings: the settings the first path is checked with, each with
// where it came from; a configuration in error has already ended the run.
int show_settings(const keyhound::NativeOptions& options) {
  keyhound::DescriptorWriter out;
  const std::string configuration =
      options.configuration_file
          ? "configuration: " + keyhound::terminal_safe_name(*options.configuration_file)
          : "no configuration file";
  out.write_line(keyhound::Stream::Stdout,
                 "Settings for '" + keyhound::terminal_safe_name(options.paths.front()) +
                     "' (" + configuration + "):\n");
  for (const std::string& line : keyhound::settings_listing(options.settings)) {
    out.write_line(keyhound::Stream::Stdout, line);
  }
  return kClean;
}

}  // namespace

namespace keyhound {

int run_native_command(std::vector<std::string> argv) {
  // `keyhound check PATHS` is `keyhound PATHS`, as ruff has it. To check a
  // file or directory named `check`, name it `./check`.
  if (argv.size() >= 2 && argv[1] == "check") argv.erase(argv.begin() + 1);
  CommandDecision decision = decide_command(native_command(), argv);
  if (const auto* exit = std::get_if<CommandExit>(&decision)) return end_with(*exit);
  const auto& arguments = std::get<ParsedArguments>(decision);
  if (auto explained = explain_request(arguments, argv)) return end_with(*explained);
  auto options = settle_native_options(arguments, argv);
  if (!options) return end_with(options.error());
  for (const std::string& warning : options->warnings) warn(warning);

  if (options->show_settings) return show_settings(*options);
  std::vector<LintInput> inputs = find_inputs(*options);
  if (options->show_files) return show_files(inputs);
  if (auto clash = output_among_inputs(*options, inputs)) {
    return end_with(configuration_error("the output file '" + *clash +
                                                  "' is one of the files to check"));
  }
  DescriptorWriter terminal;
  std::optional<AtomicOutputFile> file;
  if (options->output_file) {
    auto created = AtomicOutputFile::create(*options->output_file);
    if (!created) return end_with(configuration_error(created.error()));
    file.emplace(std::move(*created));
  }
  if (options->add_noqa) return add_noqa_comments(*options, inputs, terminal);

  auto stage = report_stage(*options);
  if (!stage) return end_with(stage.error());
  std::optional<ResultCache> cache = open_cache(*options);
  LineWriter& out = file ? static_cast<LineWriter&>(*file) : terminal;
  FileLoopResult result = lint(*options, inputs, out, file.has_value(),
                                         *stage ? &**stage : nullptr, cache ? &*cache : nullptr);
  if (cache) close_cache(*cache);
  if (file) {
    if (auto committed = file->commit(); !committed) {
      return end_with(configuration_error(committed.error()));
    }
  }
  if (auto finished = finish_baseline(*options, *stage ? &**stage : nullptr); !finished) {
    return end_with(finished.error());
  }
  // A misspelt path must never let a CI run pass.
  if (result.any_file_unreadable) return kUsageOrUnreadable;
  if (options->write_baseline) return kClean;
  if (result.any_file_has_issues && !options->exit_zero) return kIssuesFound;
  return kClean;
}


}  // namespace keyhound
