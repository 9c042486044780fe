#include "server/server_settings.hpp"

#include "analysis/rule_catalog.hpp"
#include "project/exclusion.hpp"

namespace keyhound {

namespace {

std::expected<bool, std::string> settle_precise(const std::optional<Configuration>& configuration,
                                                const SettingOverrides& overrides) {
  if (overrides.exact.value_or(false) && overrides.precise.value_or(false)) {
    return std::unexpected("initializationOptions: 'exact' and 'precise' cannot both be true");
  }
  if (overrides.exact) return !*overrides.exact;
  if (overrides.precise) return *overrides.precise;
  if (!configuration) return true;
  return configured_precise(*configuration);
}

}  // namespace

DocumentSettings default_document_settings(const std::string& directory) {
  DocumentSettings settings;
  settings.selection.test_code = exclusion_patterns(default_test_paths(), directory);
  settings.selection.project_root = directory;
  return settings;
}

std::expected<DocumentSettings, std::string> settle_document_settings(
    const std::optional<Configuration>& configuration, const SettingOverrides& overrides,
    const std::string& directory) {
  DocumentSettings settings;
  auto precise = settle_precise(configuration, overrides);
  if (!precise) return std::unexpected(precise.error());
  settings.analysis.precise = *precise;
  CodeSelection& selection = settings.selection;
  const std::string root = configuration ? configuration->directory : directory;
  const std::string file = configuration ? configuration->file : std::string();
  for (auto [key, override_codes, configured, into] :
       {std::tuple{"select", &overrides.select, configuration ? &configuration->select : nullptr,
                   &selection.select},
        std::tuple{"ignore", &overrides.ignore, configuration ? &configuration->ignore : nullptr,
                   &selection.ignore}}) {
    const std::vector<std::string>* codes = override_codes->has_value() ? &**override_codes : configured;
    if (codes == nullptr) continue;
    // A selector that matches no rule would silence the editor without a word.
    if (auto problem = configured_selector_problem(
            override_codes->has_value() ? "initializationOptions" : file, key, *codes)) {
      return std::unexpected(*problem);
    }
    *into = *codes;
  }
  if (configuration) {
    for (const auto& [glob, codes] : configuration->per_file_ignores) {
      if (auto problem = configured_selector_problem(file, "per-file-ignores", codes)) {
        return std::unexpected(*problem);
      }
      selection.per_file_ignores.emplace_back(ExclusionPattern(glob, root), codes);
    }
  }
  // An editor shows every tier, a low one as Information, unless the
  // configuration sets a threshold.
  if (settings.analysis.precise && configuration && configuration->min_confidence) {
    selection.min_confidence = *configuration->min_confidence;
  }
  // Unused suppressions (KH100) when the selection asks for them by name.
  settings.analysis.report_unused_suppressions =
      settings.analysis.precise && selects_unused_suppressions(selection.select);
  const bool include_tests = overrides.include_tests.value_or(
      configuration && configuration->include_tests.value_or(false));
  // Test code goes unreported in precise mode only, as on the command line.
  if (settings.analysis.precise && !include_tests) {
    const bool configured = configuration && configuration->test_paths;
    selection.test_code =
        exclusion_patterns(configured ? *configuration->test_paths : default_test_paths(), root);
    selection.project_root = root;
  }
  return settings;
}

}  // namespace keyhound
