#include "entry/run_command.hpp"

#include <unistd.h>

#include "entry/command_line.hpp"

namespace keyhound {

CommandDecision decide_command(std::span<const std::string> argv) {
  std::span<const std::string> arguments = argv.empty() ? argv : argv.subspan(1);
  CommandLine parsed = parse_command_line(arguments);
  if (std::holds_alternative<HelpRequest>(parsed)) {
    return CommandExit{Stream::Stdout,
                       help_lines(usage_name(argv), command_output_styles(STDOUT_FILENO)), 0};
  }
  if (std::holds_alternative<VersionRequest>(parsed)) {
    return CommandExit{Stream::Stdout, {version_line()}, 0};
  }
  if (const auto* error = std::get_if<CommandLineError>(&parsed)) {
    return CommandExit{
        Stream::Stderr,
        error_lines(*error, usage_name(argv), command_output_styles(STDERR_FILENO)), 2};
  }
  return CommandRun{std::move(std::get<FileList>(parsed).files)};
}

}  // namespace keyhound
