#pragma once

#include <expected>
#include <optional>

#include "rules/risk.hpp"
#include <string>
#include <utility>
#include <vector>

namespace keyhound {

// The `[tool.keyhound]` table of a pyproject.toml. Keys mirror the native
// command's long options; what a key does not say is left to the command
// line and the defaults.
struct Configuration {
  // The file it came from, as shown in messages, and its directory
  // (absolute), against which its relative patterns are taken.
  std::string file;
  std::string directory;

  std::optional<std::vector<std::string>> exclude;
  std::vector<std::string> extend_exclude;
  std::optional<bool> force_exclude;
  std::optional<bool> respect_gitignore;
  std::optional<unsigned> jobs;
  std::optional<std::string> output_format;
  // The lowest confidence reported in precise mode: "high", "medium", "low".
  std::optional<Confidence> min_confidence;
  std::optional<bool> exact;
  std::optional<bool> precise;
  std::optional<bool> include_tests;
  // Globs naming test code, instead of the usual names.
  std::optional<std::vector<std::string>> test_paths;
  std::optional<std::string> cache_dir;  // relative to the file's directory
  std::optional<std::string> baseline;  // relative to the file's directory
  std::vector<std::string> select;
  std::vector<std::string> ignore;
  // Glob to codes.
  std::vector<std::pair<std::string, std::vector<std::string>>> per_file_ignores;
};

// Parses `text`, the content of the TOML file `file` in `directory`. No
// table `[tool.keyhound]` gives nothing. The error is the whole message
// (file, key, what was expected).
std::expected<std::optional<Configuration>, std::string> parse_configuration(
    std::string_view text, const std::string& file, const std::string& directory);

// The configuration to use: that of `explicit_file` when given (which must
// exist and hold the table, or at least parse), else that of the nearest
// pyproject.toml at or above `working_directory` that holds the table.
std::expected<std::optional<Configuration>, std::string> find_configuration(
    const std::optional<std::string>& explicit_file, const std::string& working_directory);

// Whether a configuration asks for precise mode, the default: `exact =
// true` (or an old `precise = false`) turns it off; both true is an error.
std::expected<bool, std::string> configured_precise(const Configuration& configuration);

// Where the search for the configuration of a path (absolute) starts: the
// path itself when it is a directory, else the directory that holds it.
std::string configuration_search_start(const std::string& absolute);

}  // namespace keyhound
