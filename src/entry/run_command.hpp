#pragma once

#include <span>
#include <string>

#include "entry/file_loop.hpp"

namespace keyhound {

// The command: parses `argv` (element 0 names the program, the rest are
// arguments) and runs the file loop. A help or version request or a
// command-line error prints its text and ends the process (status 0, 0, 2);
// otherwise the loop's result is returned.
FileLoopResult run_command_line(std::span<const std::string> argv);

}  // namespace keyhound
