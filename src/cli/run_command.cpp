#include "cli/run_command.hpp"

#include <unistd.h>

namespace keyhound {

CommandDecision decide_command(const CommandSpec& spec, std::span<const std::string> argv) {
  std::span<const std::string> arguments = argv.empty() ? argv : argv.subspan(1);
  CommandLine parsed = parse_command_line(spec, arguments);
  if (std::holds_alternative<HelpRequest>(parsed)) {
    return CommandExit{Stream::Stdout,
                       help_lines(spec, usage_name(argv), command_output_styles(STDOUT_FILENO)),
                       0};
  }
  if (std::holds_alternative<VersionRequest>(parsed)) {
    return CommandExit{Stream::Stdout, {version_line()}, 0};
  }
  if (const auto* error = std::get_if<CommandLineError>(&parsed)) {
    return usage_error(spec, argv, *error);
  }
  return std::move(std::get<ParsedArguments>(parsed));
}

CommandExit usage_error(const CommandSpec& spec, std::span<const std::string> argv,
                        const CommandLineError& error) {
  return CommandExit{
      Stream::Stderr,
      error_lines(spec, error, usage_name(argv), command_output_styles(STDERR_FILENO)),
      kUsageErrorStatus};
}

}  // namespace keyhound
