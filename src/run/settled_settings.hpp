#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analyze_file.hpp"
#include "project/exclusion.hpp"
#include "run/report_stage.hpp"
#include "settings/setting_layers.hpp"

namespace keyhound {

// What a run, a call of the API or an editor's document is checked with,
// worked out once from the layered settings. Each front end layers its
// sources and reads the same outcome.
struct SettledSettings {
  bool precise = true;
  bool ignore_noqa = false;
  // Nothing: the processors available.
  std::optional<std::uint64_t> jobs;
  std::string output_format = "full";
  std::vector<ExclusionPattern> exclusions;
  bool force_exclude = false;
  bool respect_gitignore = true;
  CodeSelection selection;
  // A cache directory or a baseline given, absolute.
  std::optional<std::string> cache_dir;
  SettingOrigin cache_dir_origin = SettingOrigin::Default;
  std::optional<std::string> baseline;

  AnalysisOptions analysis() const;
};

// The front end's own defaults, where they differ from the command's.
struct SettingDefaults {
  // The lowest tier reported in precise mode; nothing reports every tier.
  std::optional<Confidence> min_confidence = kDefaultMinConfidence;
};

// Works out the settings. `project_root` is the directory of the
// configuration in use, else the working directory: test code and the
// default test names are taken against it. The error is the message for
// settings that contradict each other ("exact" and "precise" both true).
std::expected<SettledSettings, std::string> settle_settings(const SettingLayers& layers,
                                                            const std::string& working_directory,
                                                            const std::string& project_root,
                                                            const SettingDefaults& defaults = {});

}  // namespace keyhound
