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
#include "formats/format_registry.hpp"
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

using KeyResult = std::expected<void, std::string>;

class TableReader;

// One key of [tool.keyhound]: its name and how its value is read into the
// configuration. The table is the one list of keys: the reader and the
// error for an unknown key both take it from here.
struct ConfigurationKey {
  std::string_view name;
  KeyResult (*read)(TableReader& reader, std::string_view key, const toml::node& node);
};

extern const std::array<ConfigurationKey, 16> kConfigurationKeys;

class TableReader {
 public:
  TableReader(const std::string& file, Configuration& into) : file_(file), into_(into) {}

  KeyResult read(const toml::table& table) {
    for (auto&& [key, node] : table) {
      std::string_view name = key.str();
      auto rule = std::find_if(kConfigurationKeys.begin(), kConfigurationKeys.end(),
                               [&](const ConfigurationKey& known) { return known.name == name; });
      if (rule == kConfigurationKeys.end()) {
        std::string known;
        std::vector<std::string_view> names;
        for (const ConfigurationKey& each : kConfigurationKeys) {
          known += (known.empty() ? "" : ", ") + std::string(each.name);
          names.push_back(each.name);
        }
        std::string suggestion;
        if (auto nearest = nearest_by_edits(name, names)) {
          suggestion = "did you mean '" + std::string(*nearest) + "'? ";
        }
        return std::unexpected("invalid configuration in '" + file_ + "': unknown key '" +
                               std::string(name) + "' in [tool.keyhound]; " + suggestion +
                               "expected one of: " + known);
      }
      if (auto read = rule->read(*this, name, node); !read) return read;
    }
    return {};
  }

  // Readers by the type of the value, into one field.
  template <class Field>
  KeyResult list(std::string_view key, const toml::node& node, Field Configuration::*field) {
    auto list = strings(key, node);
    if (!list) return std::unexpected(list.error());
    into_.*field = std::move(*list);
    return {};
  }
  KeyResult flag(std::string_view key, const toml::node& node,
                 std::optional<bool> Configuration::*field) {
    auto value = boolean(key, node);
    if (!value) return std::unexpected(value.error());
    into_.*field = *value;
    return {};
  }
  KeyResult text(std::string_view key, const toml::node& node,
                 std::optional<std::string> Configuration::*field) {
    auto value = node.value<std::string>();
    if (!node.is_string() || !value) return std::unexpected(invalid(key, "a string", node));
    into_.*field = *value;
    return {};
  }
  KeyResult jobs(std::string_view key, const toml::node& node) {
    auto value = node.value<int64_t>();
    if (!node.is_integer() || !value || *value < 1) {
      return std::unexpected(invalid(key, "a whole number of 1 or more", node));
    }
    // Capped by the processors there are, as --jobs is.
    into_.jobs = static_cast<unsigned>(std::min<int64_t>(*value, 1 << 20));
    return {};
  }
  KeyResult output_format(std::string_view key, const toml::node& node) {
    auto value = node.value<std::string>();
    if (!node.is_string() || !value || !is_output_format(*value)) {
      return std::unexpected(invalid(key, "one of " + output_format_names(true), node));
    }
    into_.output_format = *value;
    return {};
  }
  KeyResult min_confidence(std::string_view key, const toml::node& node) {
    auto value = node.value<std::string>();
    std::optional<Confidence> tier = value ? confidence_named(*value) : std::nullopt;
    if (!node.is_string() || !tier) {
      return std::unexpected(invalid(key, "one of \"high\", \"medium\", \"low\"", node));
    }
    into_.min_confidence = *tier;
    return {};
  }
  KeyResult per_file_ignores(std::string_view key, const toml::node& node) {
    const toml::table* globs = node.as_table();
    if (globs == nullptr) return std::unexpected(invalid(key, "a table of glob to codes", node));
    for (auto&& [glob, codes] : *globs) {
      auto list = strings("per-file-ignores." + std::string(glob.str()), codes);
      if (!list) return std::unexpected(list.error());
      into_.per_file_ignores.emplace_back(std::string(glob.str()), std::move(*list));
    }
    return {};
  }

 private:
  std::string invalid(std::string_view key, std::string_view expected, const toml::node& node) {
    std::string message = "invalid configuration in '" + file_ + "': '";
    message += key;
    message += "' must be ";
    message += expected;
    message += ", not ";
    message += type_name(node);
    if (node.is_integer()) message += " " + std::to_string(*node.value<int64_t>());
    if (node.is_string()) {
      message += " \"";
      message += *node.value<std::string>();
      message += '"';
    }
    return message;
  }

  std::expected<std::vector<std::string>, std::string> strings(std::string_view key,
                                                               const toml::node& node) {
    const toml::array* array = node.as_array();
    if (array == nullptr) return std::unexpected(invalid(key, "an array of strings", node));
    std::vector<std::string> values;
    for (const toml::node& element : *array) {
      auto text = element.value<std::string>();
      if (!element.is_string() || !text) {
        return std::unexpected(invalid(key, "an array of strings", element));
      }
      values.push_back(std::move(*text));
    }
    return values;
  }

  std::expected<bool, std::string> boolean(std::string_view key, const toml::node& node) {
    if (!node.is_boolean()) return std::unexpected(invalid(key, "true or false", node));
    return *node.value<bool>();
  }

  const std::string& file_;
  Configuration& into_;
};

// Each row's reader, by the kind of value and the field it fills.
template <auto Field>
KeyResult list_of(TableReader& reader, std::string_view key, const toml::node& node) {
  return reader.list(key, node, Field);
}
template <auto Field>
KeyResult flag_of(TableReader& reader, std::string_view key, const toml::node& node) {
  return reader.flag(key, node, Field);
}
template <auto Field>
KeyResult text_of(TableReader& reader, std::string_view key, const toml::node& node) {
  return reader.text(key, node, Field);
}
template <KeyResult (TableReader::*Read)(std::string_view, const toml::node&)>
KeyResult own(TableReader& reader, std::string_view key, const toml::node& node) {
  return (reader.*Read)(key, node);
}

const std::array<ConfigurationKey, 16> kConfigurationKeys = {
    ConfigurationKey{"exclude", list_of<&Configuration::exclude>},
    ConfigurationKey{"extend-exclude", list_of<&Configuration::extend_exclude>},
    ConfigurationKey{"force-exclude", flag_of<&Configuration::force_exclude>},
    ConfigurationKey{"respect-gitignore", flag_of<&Configuration::respect_gitignore>},
    ConfigurationKey{"jobs", own<&TableReader::jobs>},
    ConfigurationKey{"output-format", own<&TableReader::output_format>},
    ConfigurationKey{"exact", flag_of<&Configuration::exact>},
    ConfigurationKey{"precise", flag_of<&Configuration::precise>},
    ConfigurationKey{"baseline", text_of<&Configuration::baseline>},
    ConfigurationKey{"select", list_of<&Configuration::select>},
    ConfigurationKey{"ignore", list_of<&Configuration::ignore>},
    ConfigurationKey{"per-file-ignores", own<&TableReader::per_file_ignores>},
    ConfigurationKey{"cache-dir", text_of<&Configuration::cache_dir>},
    ConfigurationKey{"include-tests", flag_of<&Configuration::include_tests>},
    ConfigurationKey{"test-paths", list_of<&Configuration::test_paths>},
    ConfigurationKey{"min-confidence", own<&TableReader::min_confidence>},
};

}  // namespace

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
  TableReader reader(file, configuration);
  if (auto read = reader.read(*section->as_table()); !read) return std::unexpected(read.error());
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

std::expected<bool, std::string> configured_precise(const Configuration& configuration) {
  if (configuration.exact.value_or(false) && configuration.precise.value_or(false)) {
    return std::unexpected(configuration.file + ": 'exact' and 'precise' cannot both be true");
  }
  return !configuration.exact.value_or(false) && configuration.precise.value_or(true);
}

}  // namespace keyhound
