#pragma once

#include <optional>
#include <span>
#include <string>

#include "cli/command_line.hpp"
#include "cli/run_command.hpp"

namespace keyhound {

// `--explain CODE`: the rule's explanation on standard output, or a usage
// error for a code that names no rule. Nothing when not asked.
std::optional<CommandExit> explain_request(const ParsedArguments& arguments,
                                           std::span<const std::string> argv);

}  // namespace keyhound
