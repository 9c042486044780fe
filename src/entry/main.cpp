// The native `keyhound` command, on the same core as the Python module.

#include <exception>
#include <string>
#include <vector>

#include "entry/fault_report.hpp"
#include "entry/run_command.hpp"

namespace {

// Exit statuses of the native command.
constexpr int kClean = 0;
constexpr int kIssuesFound = 1;
constexpr int kUsageOrUnreadable = 2;
constexpr int kInternalFault = 70;  // EX_SOFTWARE

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  try {
    keyhound::FileLoopResult result = keyhound::run_command_line(arguments);
    // A misspelt path must never let a CI run pass.
    if (result.any_file_unreadable) return kUsageOrUnreadable;
    return result.any_file_has_issues ? kIssuesFound : kClean;
  } catch (const std::exception& fault) {
    keyhound::report_internal_fault(fault);
    return kInternalFault;
  }
}
