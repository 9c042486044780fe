#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "settings/setting_table.hpp"

namespace keyhound {

// Where a value came from, lowest first: a later source overrides an
// earlier one.
enum class SettingOrigin { Default, Configuration, Environment, CommandLine, Call };

struct GivenSetting {
  SettingValue value;
  SettingOrigin origin = SettingOrigin::Default;
  // The directory the value's relative paths and globs are taken against.
  std::string directory;
  // Where it was given, as messages and --show-settings name it
  // ("pyproject.toml", "--jobs", "KEYHOUND_CACHE_DIR", "initializationOptions").
  std::string place;
  // The order it was given in, across every setting.
  std::size_t order = 0;
};

// The values given for each setting, layered once: the defaults, then the
// configuration file, then the command line or the call's arguments.
class SettingLayers {
 public:
  // A later value replaces the earlier ones, except for the settings that
  // add to them (extend-exclude, per-file-ignores).
  void give(SettingId id, SettingValue value, SettingOrigin origin, std::string directory,
            std::string place);

  // The value in force, or null when none was given.
  const GivenSetting* value(SettingId id) const;
  // Every value in force, in the order given (one unless the setting adds).
  std::span<const GivenSetting> values(SettingId id) const;

 private:
  std::array<std::vector<GivenSetting>, kSettingCount> given_;
  std::size_t next_order_ = 0;
};

// Whether the values of a setting add up rather than replace each other.
bool setting_adds(SettingId id);

// A value as a configuration file would hold it: `true`, `3`, `"full"`,
// `["KH001", "KH002"]`, `{ "tests/*" = ["KH001"] }`.
std::string toml_text(const SettingValue& value);

// --show-settings: one line per setting that `source` can give, with the
// value in force and where it came from, or its default.
std::vector<std::string> settings_listing(const SettingLayers& layers);

}  // namespace keyhound
