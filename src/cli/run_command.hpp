#pragma once

#include <span>
#include <string>
#include <variant>
#include <vector>

#include "output/line_writer.hpp"
#include "cli/command_line.hpp"

namespace keyhound {

// The command ends before any file is read: help, version or a command-line
// error. The front end writes `lines` to `stream` and ends with `status`.
struct CommandExit {
  Stream stream;
  std::vector<std::string> lines;
  int status;
};

inline constexpr int kUsageErrorStatus = 2;

using CommandDecision = std::variant<CommandExit, ParsedArguments>;

// Parses `argv` (element 0 names the program, the rest are arguments) by
// `spec` and says how the command goes on. Never ends the process: that is
// the front end's decision.
CommandDecision decide_command(const CommandSpec& spec, std::span<const std::string> argv);

// The error report of a command line that parsed but does not hold (a bad
// value, a bad configuration), as an exit with status 2.
CommandExit usage_error(const CommandSpec& spec, std::span<const std::string> argv,
                        const CommandLineError& error);

}  // namespace keyhound
