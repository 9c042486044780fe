#pragma once

#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/analyze_file.hpp"
#include "project/configuration.hpp"
#include "run/report_stage.hpp"

namespace keyhound {

// What the client's initializationOptions set over the configuration: the
// settings the server takes, by their configuration keys.
struct SettingOverrides {
  std::vector<std::pair<SettingId, SettingValue>> values;
  // The first value that could not be read; it is left out.
  std::optional<std::string> problem;
};

// Reads initializationOptions (an object; anything else sets nothing).
SettingOverrides read_setting_overrides(const nlohmann::json& options);

// How one document is checked: the command's default mode (precise,
// suppression comments honoured, test code not reported) as its
// configuration and the overrides change it.
struct DocumentSettings {
  AnalysisOptions analysis{.honour_suppressions = true, .precise = true};
  CodeSelection selection;
};

// The settings of a document with `configuration` (the nearest
// `[tool.keyhound]`, if any); `directory` stands for the project's when
// there is none. An error is the message to show; the caller then uses
// the defaults.
std::expected<DocumentSettings, std::string> settle_document_settings(
    const std::optional<Configuration>& configuration, const SettingOverrides& overrides,
    const std::string& directory);

// The defaults alone, for a document whose configuration is in error.
DocumentSettings default_document_settings(const std::string& directory);

}  // namespace keyhound
