#include "project/configuration.hpp"

#include "base/edit_distance.hpp"

#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
#include <toml.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "base/plain_file.hpp"
#include "base/path_names.hpp"

namespace keyhound {
namespace {

std::string type_name(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a float";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::array: return "an array";
    case toml::node_type::table: return "a table";
    default: return "a date or time";
  }
}

// "an integer 0", "a string \"xml\"": what was found where a value of
// another kind was expected.
std::string found_text(const toml::node& node) {
  std::string found = type_name(node);
  if (node.is_integer()) found += " " + std::to_string(*node.value<int64_t>());
  if (node.is_string()) found += " \"" + *node.value<std::string>() + '"';
  return found;
}

using ReadValue = std::expected<SettingValue, std::string>;

// A value of the `kind` read from its node; the error names the key.
class ValueReader {
 public:
  explicit ValueReader(const std::string& file) : file_(file) {}

  ReadValue read(const Setting& setting, const toml::node& node) const {
    ReadValue value = typed(setting, node);
    if (!value) return value;
    if (!in_range(setting, *value)) return std::unexpected(wrong(setting, node));
    if (auto problem = selector_problem_in(setting, *value)) {
      return std::unexpected(file_ + ": '" + std::string(setting.key) + "' holds '" +
                             problem->selector + "', but " + problem->reason);
    }
    return value;
  }

  std::string wrong(const Setting& setting, const toml::node& node) const {
    return "invalid configuration in '" + file_ + "': " +
           must_be_message(setting, ValueLanguage::Toml, found_text(node));
  }

 private:
  ReadValue typed(const Setting& setting, const toml::node& node) const {
    switch (setting.kind) {
      case SettingKind::Flag:
        if (!node.is_boolean()) break;
        return *node.value<bool>();
      case SettingKind::Count:
        if (!node.is_integer() || *node.value<int64_t>() < 1) break;
        return static_cast<std::uint64_t>(*node.value<int64_t>());
      case SettingKind::Text:
      case SettingKind::Choice:
        if (!node.is_string()) break;
        return *node.value<std::string>();
      case SettingKind::Texts:
      case SettingKind::Codes: return strings(setting, node);
      case SettingKind::GlobCodes: {
        const toml::table* globs = node.as_table();
        if (globs == nullptr) break;
        GlobCodes table;
        for (auto&& [glob, codes] : *globs) {
          auto list = strings(setting, codes);
          if (!list) return list;
          table.emplace_back(std::string(glob.str()),
                             std::get<std::vector<std::string>>(std::move(*list)));
        }
        return table;
      }
    }
    return std::unexpected(wrong(setting, node));
  }

  ReadValue strings(const Setting& setting, const toml::node& node) const {
    const toml::array* array = node.as_array();
    if (array == nullptr) return std::unexpected(wrong(setting, node));
    std::vector<std::string> values;
    for (const toml::node& element : *array) {
      if (!element.is_string()) return std::unexpected(wrong(setting, element));
      values.push_back(*element.value<std::string>());
    }
    return values;
  }

  const std::string& file_;
};

std::string unknown_key(const std::string& file, std::string_view name) {
  std::vector<std::string> keys = setting_keys(kFromConfiguration);
  std::string known;
  for (const std::string& key : keys) known += (known.empty() ? "" : ", ") + key;
  std::vector<std::string_view> names(keys.begin(), keys.end());
  std::string suggestion;
  if (auto nearest = nearest_by_edits(name, names)) {
    suggestion = "did you mean '" + std::string(*nearest) + "'? ";
  }
  return "invalid configuration in '" + file + "': unknown key '" + std::string(name) +
         "' in [tool.keyhound]; " + suggestion + "expected one of: " + known;
}

}  // namespace

void Configuration::add_to(SettingLayers& layers) const {
  for (const auto& [id, value] : values) {
    layers.give(id, value, SettingOrigin::Configuration, directory, file);
  }
}

const SettingValue* Configuration::find(SettingId id) const {
  for (const auto& [given, value] : values) {
    if (given == id) return &value;
  }
  return nullptr;
}

std::expected<std::optional<Configuration>, std::string> parse_configuration(
    std::string_view text, const std::string& file, const std::string& directory) {
  toml::parse_result parsed = toml::parse(text);
  if (!parsed) {
    const toml::parse_error& error = parsed.error();
    return std::unexpected("cannot parse '" + file + "': " +
                           std::string(error.description()) + " (line " +
                           std::to_string(error.source().begin.line) + ", column " +
                           std::to_string(error.source().begin.column) + ")");
  }
  const toml::table& document = parsed.table();
  const toml::node* tool = document.get("tool");
  if (tool == nullptr) return std::nullopt;
  if (!tool->is_table()) return std::nullopt;
  const toml::node* section = tool->as_table()->get("keyhound");
  if (section == nullptr) return std::nullopt;
  if (!section->is_table()) {
    return std::unexpected("invalid configuration in '" + file +
                           "': [tool.keyhound] must be a table, not " + type_name(*section));
  }
  Configuration configuration;
  configuration.file = file;
  configuration.directory = directory;
  const ValueReader reader(file);
  for (auto&& [key, node] : *section->as_table()) {
    const Setting* setting = setting_named(key.str(), kFromConfiguration);
    if (setting == nullptr) return std::unexpected(unknown_key(file, key.str()));
    auto value = reader.read(*setting, node);
    if (!value) return std::unexpected(value.error());
    configuration.values.emplace_back(setting->id, std::move(*value));
  }
  return configuration;
}

namespace {

// A configuration is a small regular file: a FIFO or a device of that name
// is not read (it could hold or flood the run).
constexpr std::size_t kLargestConfiguration = 16u << 20;

std::expected<std::string, PlainReadError> read_configuration(const std::string& file) {
  return read_plain_file(file, PlainReadOptions{.most_bytes = kLargestConfiguration});
}

bool is_regular_file(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

std::expected<std::optional<Configuration>, std::string> find_configuration(
    const std::optional<std::string>& explicit_file, const std::string& working_directory) {
  if (explicit_file) {
    auto text = read_configuration(*explicit_file);
    if (!text) {
      return std::unexpected("cannot read configuration file '" + *explicit_file + "': " +
                             text.error().message);
    }
    std::string absolute = absolute_path(*explicit_file, working_directory);
    std::string directory = absolute.substr(0, absolute.rfind('/'));
    if (directory.empty()) directory = "/";
    auto parsed = parse_configuration(*text, *explicit_file, directory);
    // A file named for its configuration that holds none is a mistake
    // (another tool's table, a misspelt one), not a run with the defaults.
    if (parsed && !*parsed) {
      return std::unexpected("the configuration file '" + *explicit_file +
                             "' has no [tool.keyhound] table");
    }
    return parsed;
  }
  std::string directory = working_directory;
  for (;;) {
    std::string candidate = join_path(directory == "/" ? "" : directory, "pyproject.toml");
    if (directory == "/") candidate = "/pyproject.toml";
    // Only a regular file is a configuration: a FIFO of that name in a
    // parent directory must not hold every run.
    if (is_regular_file(candidate)) {
      auto text = read_configuration(candidate);
      if (!text) {
        return std::unexpected("cannot read configuration file '" + candidate + "': " +
                               text.error().message);
      }
      // A pyproject.toml that does not parse matters only when it is ours.
      bool mentions_keyhound = text->find("keyhound") != std::string::npos;
      auto parsed = parse_configuration(*text, candidate, directory);
      if (!parsed && mentions_keyhound) return parsed;
      if (parsed && *parsed) return parsed;
    }
    if (directory == "/") return std::nullopt;
    std::size_t slash = directory.rfind('/');
    directory = slash == 0 ? "/" : directory.substr(0, slash);
  }
}

std::string configuration_search_start(const std::string& absolute) {
  struct stat status;
  if (::stat(absolute.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return absolute;
  std::size_t slash = absolute.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return absolute.substr(0, slash);
}

}  // namespace keyhound
