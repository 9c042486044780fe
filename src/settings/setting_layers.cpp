#include "settings/setting_layers.hpp"

#include <algorithm>
#include "formats/json_text.hpp"

namespace keyhound {

bool setting_adds(SettingId id) {
  return id == SettingId::ExtendExclude || id == SettingId::PerFileIgnores;
}

void SettingLayers::give(SettingId id, SettingValue value, SettingOrigin origin,
                         std::string directory, std::string place) {
  std::vector<GivenSetting>& slot = given_[static_cast<std::size_t>(id)];
  if (!setting_adds(id)) slot.clear();
  slot.push_back(GivenSetting{std::move(value), origin, std::move(directory), std::move(place),
                              next_order_++});
}

const GivenSetting* SettingLayers::value(SettingId id) const {
  const std::vector<GivenSetting>& slot = given_[static_cast<std::size_t>(id)];
  return slot.empty() ? nullptr : &slot.back();
}

std::span<const GivenSetting> SettingLayers::values(SettingId id) const {
  return given_[static_cast<std::size_t>(id)];
}

namespace {

// A TOML basic string: a JSON string is one, with the same escapes, and
// shows no control character raw.
std::string toml_string(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

std::string toml_list(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += toml_string(items[i]);
  }
  return out + "]";
}

std::string origin_text(const GivenSetting& given) {
  switch (given.origin) {
    case SettingOrigin::Default: return "default";
    case SettingOrigin::Configuration: return given.place;
    case SettingOrigin::Environment: return "environment: " + given.place;
    case SettingOrigin::CommandLine: return "command line: " + given.place;
    case SettingOrigin::Call: return given.place;
  }
  return {};
}

}  // namespace

std::string toml_text(const SettingValue& value) {
  struct Writer {
    std::string operator()(bool flag) const { return flag ? "true" : "false"; }
    std::string operator()(std::uint64_t count) const { return std::to_string(count); }
    std::string operator()(const std::string& text) const { return toml_string(text); }
    std::string operator()(const std::vector<std::string>& items) const { return toml_list(items); }
    std::string operator()(const GlobCodes& table) const {
      std::string out = "{";
      for (std::size_t i = 0; i < table.size(); ++i) {
        out += i > 0 ? ", " : " ";
        out += toml_string(table[i].first) + " = " + toml_list(table[i].second);
      }
      return out + (table.empty() ? "}" : " }");
    }
  };
  return std::visit(Writer{}, value);
}

std::vector<std::string> settings_listing(const SettingLayers& layers) {
  std::size_t widest = 0;
  for (const Setting& setting : setting_table()) widest = std::max(widest, setting.key.size());
  std::vector<std::string> lines;
  for (const Setting& setting : setting_table()) {
    std::string line(setting.key);
    line.append(widest - setting.key.size(), ' ');
    line += " = ";
    std::span<const GivenSetting> given = layers.values(setting.id);
    if (given.empty()) {
      line += setting.default_text;
      line += "  # default";
    } else {
      // A setting that adds lists each value with its own origin.
      for (std::size_t i = 0; i < given.size(); ++i) {
        if (i > 0) {
          line += '\n';
          line.append(widest, ' ');
          line += " + ";
        }
        line += toml_text(given[i].value);
        line += "  # ";
        line += origin_text(given[i]);
      }
    }
    line += '\n';
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace keyhound
