#pragma once

#include <expected>
#include <optional>

#include "settings/setting_layers.hpp"
#include <string>
#include <utility>
#include <vector>

namespace keyhound {

// The `[tool.keyhound]` table of a pyproject.toml: the settings it gives,
// read and checked through the one table of settings.
struct Configuration {
  // The file it came from, as shown in messages, and its directory
  // (absolute), against which its relative paths and patterns are taken.
  std::string file;
  std::string directory;
  // In the file's order.
  std::vector<std::pair<SettingId, SettingValue>> values;

  // Gives its values to `layers`, over what they hold.
  void add_to(SettingLayers& layers) const;
  const SettingValue* find(SettingId id) const;
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

// Where the search for the configuration of a path (absolute) starts: the
// path itself when it is a directory, else the directory that holds it.
std::string configuration_search_start(const std::string& absolute);

}  // namespace keyhound
