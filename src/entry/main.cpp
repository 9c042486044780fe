// The native `keyhound` command, on the same core as the Python module.

#include <exception>
#include <string>
#include <variant>
#include <vector>

#include "analysis/caret_renderer.hpp"
#include "analysis/line_writer.hpp"
#include "entry/fault_report.hpp"
#include "entry/file_loop.hpp"
#include "entry/run_command.hpp"

namespace {

// Exit statuses of the native command.
constexpr int kClean = 0;
constexpr int kIssuesFound = 1;
constexpr int kUsageOrUnreadable = 2;
constexpr int kInternalFault = 70;  // EX_SOFTWARE

int run(const std::vector<std::string>& arguments) {
  keyhound::CommandDecision decision = keyhound::decide_command(arguments);
  if (const auto* exit = std::get_if<keyhound::CommandExit>(&decision)) {
    keyhound::BestEffortDescriptorWriter out;
    for (const std::string& line : exit->lines) out.write_line(exit->stream, line);
    return exit->status;
  }
  keyhound::DescriptorWriter out;
  keyhound::FileLoopResult result = keyhound::run_file_loop(
      std::get<keyhound::CommandRun>(decision).files, out, keyhound::CaretRenderer());
  // A misspelt path must never let a CI run pass.
  if (result.any_file_unreadable) return kUsageOrUnreadable;
  return result.any_file_has_issues ? kIssuesFound : kClean;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv, argv + argc));
  } catch (const std::exception& fault) {
    keyhound::report_internal_fault(fault);
    return kInternalFault;
  }
}
