#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cache/result_cache.hpp"
#include "cli/command_line.hpp"
#include "project/discovery.hpp"
#include "run/report_stage.hpp"
#include "cli/run_command.hpp"

namespace keyhound {

// Everything the native command needs to run, from its command line and
// its configuration file (the command line winning).
struct NativeOptions {
  std::vector<std::string> paths;
  unsigned jobs = 1;
  bool exit_zero = false;
  std::string output_format = "full";
  std::optional<std::string> output_file;
  // --statistics: counts per code instead of the findings.
  bool statistics = false;
  DiscoveryOptions discovery;
  bool ignore_noqa = false;
  bool precise = true;
  // Where the result cache lives; none with --no-cache.
  std::optional<std::string> cache_dir;
  CacheOrigin cache_origin = CacheOrigin::Default;
  bool add_noqa = false;
  std::optional<std::string> baseline;
  std::optional<std::string> write_baseline;
  CodeSelection selection;
  // Said on standard error before the run: options that were adjusted.
  std::vector<std::string> warnings;
};

// "error: {message}" on standard error, exit status 2: a bad configuration,
// an output file that cannot be written.
CommandExit configuration_error(const std::string& message);

// Settles the options, reading the configuration file unless --isolated;
// a bad value or a bad configuration is an exit with status 2.
std::expected<NativeOptions, CommandExit> settle_native_options(
    const ParsedArguments& arguments, std::span<const std::string> argv);

}  // namespace keyhound
