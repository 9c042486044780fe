#pragma once

#include <expected>
#include <span>
#include <string>
#include <vector>

#include "entry/command_line.hpp"
#include "entry/discovery.hpp"
#include "entry/run_command.hpp"

namespace keyhound {

// Everything the native command needs to run, from its command line and
// its configuration file (the command line winning).
struct NativeOptions {
  std::vector<std::string> paths;
  unsigned jobs = 1;
  bool exit_zero = false;
  DiscoveryOptions discovery;
};

// Settles the options, reading the configuration file unless --isolated;
// a bad value or a bad configuration is an exit with status 2.
std::expected<NativeOptions, CommandExit> settle_native_options(
    const ParsedArguments& arguments, std::span<const std::string> argv);

}  // namespace keyhound
