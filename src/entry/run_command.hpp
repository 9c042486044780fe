#pragma once

#include <span>
#include <string>
#include <variant>
#include <vector>

#include "analysis/line_writer.hpp"

namespace keyhound {

// The command ends before any file is read: help, version or a command-line
// error. The front end writes `lines` to `stream` and ends with `status`.
struct CommandExit {
  Stream stream;
  std::vector<std::string> lines;
  int status;
};

// The command runs the file loop on these paths.
struct CommandRun {
  std::vector<std::string> files;
};

using CommandDecision = std::variant<CommandExit, CommandRun>;

// Parses `argv` (element 0 names the program, the rest are arguments) and
// says how the command goes on. Never ends the process: that is the front
// end's decision.
CommandDecision decide_command(std::span<const std::string> argv);

}  // namespace keyhound
