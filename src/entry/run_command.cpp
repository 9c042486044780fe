#include "entry/run_command.hpp"

#include <cstdlib>
#include <unistd.h>
#include <variant>

#include "analysis/output.hpp"
#include "entry/command_line.hpp"

namespace keyhound {
namespace {

// Help, version and error texts are best effort: a failed write does not
// change the exit status.
[[noreturn]] void print_and_exit(Stream stream, const std::vector<std::string>& lines,
                                 int status) {
  for (const std::string& line : lines) write_line(stream, line, OnWriteFailure::Ignore);
  std::exit(status);
}

}  // namespace

FileLoopResult run_command_line(std::span<const std::string> argv) {
  std::span<const std::string> arguments = argv.empty() ? argv : argv.subspan(1);
  CommandLine parsed = parse_command_line(arguments);
  if (std::holds_alternative<HelpRequest>(parsed)) {
    print_and_exit(Stream::Stdout,
                   help_lines(usage_name(argv), style_command_output(STDOUT_FILENO)), 0);
  }
  if (std::holds_alternative<VersionRequest>(parsed)) {
    print_and_exit(Stream::Stdout, {version_line()}, 0);
  }
  if (const auto* error = std::get_if<CommandLineError>(&parsed)) {
    print_and_exit(Stream::Stderr,
                   error_lines(*error, usage_name(argv), style_command_output(STDERR_FILENO)),
                   2);
  }
  return run_file_loop(std::get<FileList>(parsed).files);
}

}  // namespace keyhound
