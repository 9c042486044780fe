// The native `keyhound` command, on the same core as the Python module.

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "analysis/caret_renderer.hpp"
#include "analysis/line_writer.hpp"
#include "entry/discovery.hpp"
#include "entry/fault_report.hpp"
#include "entry/format_choice.hpp"
#include "entry/native_options.hpp"
#include "entry/output_file.hpp"
#include "entry/out_of_memory.hpp"
#include "entry/parallel_lint.hpp"
#include "entry/run_command.hpp"
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

  std::vector<keyhound::LintInput> inputs =
      keyhound::discover_inputs(options->paths, options->discovery);

  keyhound::DescriptorWriter terminal;
  std::optional<keyhound::AtomicOutputFile> file;
  if (options->output_file) {
    auto created = keyhound::AtomicOutputFile::create(*options->output_file);
    if (!created) return end_with(keyhound::configuration_error(created.error()));
    file.emplace(std::move(*created));
  }
  keyhound::LineWriter& out = file ? static_cast<keyhound::LineWriter&>(*file) : terminal;
  std::unique_ptr<keyhound::ReportFormat> format = keyhound::make_output_format(
      options->output_format, file ? keyhound::Stream::Stderr : keyhound::Stream::Stdout,
      options->discovery.working_directory);

  if (inputs.empty()) {
    terminal.write_line(keyhound::Stream::Stderr,
                        "warning: No Python files found under the given path(s)\n");
  }
  // A document is held back until it is whole.
  keyhound::RecordCollector records(out);
  keyhound::LineWriter& report_to = format->is_document() ? records : out;
  keyhound::FileLoopResult result = keyhound::lint_inputs(inputs, options->jobs, report_to, *format);
  format->finish(result.summary, records.records(), out);
  if (file) {
    if (auto committed = file->commit(); !committed) {
      return end_with(keyhound::configuration_error(committed.error()));
    }
  }
  // A misspelt path must never let a CI run pass.
  if (result.any_file_unreadable) return kUsageOrUnreadable;
  if (result.any_file_has_issues && !options->exit_zero) return kIssuesFound;
  return kClean;
}

}  // namespace

int main(int argc, char** argv) {
  keyhound::set_out_of_memory_handler(keyhound::end_for_out_of_memory);
  try {
    return run(std::vector<std::string>(argv, argv + argc));
  } catch (const std::exception& fault) {
    keyhound::report_internal_fault(fault);
    return kInternalFault;
  }
}
