#include "server/server_settings.hpp"

#include "base/edit_distance.hpp"
#include "run/settled_settings.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kPlace = "initializationOptions";

std::string found_text(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::boolean: return "a boolean";
    case nlohmann::json::value_t::string: return "a string \"" + value.get<std::string>() + '"';
    case nlohmann::json::value_t::array: return "an array";
    case nlohmann::json::value_t::object: return "an object";
    case nlohmann::json::value_t::null: return "null";
    default: return "a number " + value.dump();
  }
}

std::optional<std::vector<std::string>> strings_of(const nlohmann::json& value) {
  if (!value.is_array()) return std::nullopt;
  std::vector<std::string> texts;
  for (const nlohmann::json& item : value) {
    if (!item.is_string()) return std::nullopt;
    texts.push_back(item.get<std::string>());
  }
  return texts;
}

// A value of the setting's kind, or nothing when it is of another type.
std::optional<SettingValue> typed_value(const Setting& setting, const nlohmann::json& value) {
  switch (setting.kind) {
    case SettingKind::Flag:
      if (value.is_boolean()) return value.get<bool>();
      break;
    case SettingKind::Count:
      if (value.is_number_unsigned()) return value.get<std::uint64_t>();
      break;
    case SettingKind::Text:
    case SettingKind::Choice:
      if (value.is_string()) return value.get<std::string>();
      break;
    case SettingKind::Texts:
    case SettingKind::Codes:
      if (auto texts = strings_of(value)) return *texts;
      break;
    case SettingKind::GlobCodes: {
      if (!value.is_object()) break;
      GlobCodes table;
      for (const auto& [glob, codes] : value.items()) {
        auto listed = strings_of(codes);
        if (!listed) return std::nullopt;
        table.emplace_back(glob, std::move(*listed));
      }
      return table;
    }
  }
  return std::nullopt;
}

std::string unknown_key(const std::string& key) {
  std::vector<std::string> keys = setting_keys(kFromServer);
  std::vector<std::string_view> names(keys.begin(), keys.end());
  std::string message(kPlace);
  message += ": unknown key '";
  message += key;
  message += '\'';
  if (auto nearest = nearest_by_edits(key, names)) {
    message += "; did you mean '";
    message += *nearest;
    message += "'?";
  }
  return message;
}

}  // namespace

SettingOverrides read_setting_overrides(const nlohmann::json& options) {
  SettingOverrides overrides;
  if (!options.is_object()) return overrides;
  auto note = [&](std::string problem) {
    if (!overrides.problem) overrides.problem = std::move(problem);
  };
  for (const auto& [key, value] : options.items()) {
    const Setting* setting = setting_named(key, kFromServer);
    if (setting == nullptr) {
      note(unknown_key(key));
      continue;
    }
    if (value.is_null()) continue;
    std::optional<SettingValue> read = typed_value(*setting, value);
    if (!read || !in_range(*setting, *read)) {
      note(std::string(kPlace) + ": " +
           must_be_message(*setting, ValueLanguage::Json, found_text(value)));
      continue;
    }
    if (auto problem = selector_problem_in(*setting, *read)) {
      note(std::string(kPlace) + ": '" + key + "' holds '" + problem->selector + "', but " +
           problem->reason);
      continue;
    }
    overrides.values.emplace_back(setting->id, std::move(*read));
  }
  return overrides;
}

DocumentSettings default_document_settings(const std::string& directory) {
  auto settled = settle_document_settings(std::nullopt, {}, directory);
  return *settled;
}

std::expected<DocumentSettings, std::string> settle_document_settings(
    const std::optional<Configuration>& configuration, const SettingOverrides& overrides,
    const std::string& directory) {
  SettingLayers layers;
  if (configuration) configuration->add_to(layers);
  for (const auto& [id, value] : overrides.values) {
    layers.give(id, value, SettingOrigin::Call, directory, std::string(kPlace));
  }
  const std::string root = configuration ? configuration->directory : directory;
  // An editor shows every tier, a low one as Information, unless the
  // settings set a threshold.
  auto settled = settle_settings(layers, directory, root, SettingDefaults{.min_confidence = {}});
  if (!settled) return std::unexpected(settled.error());
  return DocumentSettings{settled->analysis(), std::move(settled->selection)};
}

}  // namespace keyhound
