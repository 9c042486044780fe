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
#include "settings/setting_layers.hpp"
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
  // --show-files: the files a run would check, and nothing else.
  bool show_files = false;
  // --show-settings: the first path's settings and where each came from.
  bool show_settings = false;
  // The settings of the run's own configuration, as they were layered.
  SettingLayers settings;
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
  // The directory of the configuration file in use, if any: the project
  // root, inside which --add-noqa may follow a link.
  std::optional<std::string> configuration_directory;
  // That configuration's file, as messages name it.
  std::optional<std::string> configuration_file;
  // When paths have configurations of their own: what differs with each
  // of the others (project 1 on), and which governs each path (empty: the
  // run's configuration governs every path).
  struct Project {
    DiscoveryOptions discovery;
    CodeSelection selection;
    std::optional<std::string> configuration_directory;
  };
  std::vector<Project> other_projects;
  std::vector<std::size_t> path_projects;
  // Said on standard error before the run: options that were adjusted.
  std::vector<std::string> warnings;
};

// "error: {message}" on standard error, exit status 2: a bad configuration,
// an output file that cannot be written.
CommandExit configuration_error(const std::string& message);

// Settles the options, reading the configuration unless --isolated: that
// of --config, or for each path the nearest pyproject.toml with a
// [tool.keyhound] table at or above it (the working directory's for a
// path that has none). The run-wide options come from the first path's;
// a bad value or a bad configuration is an exit with status 2.
std::expected<NativeOptions, CommandExit> settle_native_options(
    const ParsedArguments& arguments, std::span<const std::string> argv);

}  // namespace keyhound
