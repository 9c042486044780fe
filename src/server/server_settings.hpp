#pragma once

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analyze_file.hpp"
#include "project/configuration.hpp"
#include "run/report_stage.hpp"

namespace keyhound {

// What the client's initializationOptions may set over the configuration.
struct SettingOverrides {
  std::optional<bool> precise;
  std::optional<bool> exact;
  std::optional<std::vector<std::string>> select;
  std::optional<std::vector<std::string>> ignore;
  std::optional<bool> include_tests;
};

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
