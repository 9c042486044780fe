#include "cli/native_options.hpp"

#include <algorithm>
#include <cstdint>

#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <map>

#include "project/configuration.hpp"
#include "run/settled_settings.hpp"
#include "settings/setting_table.hpp"
#include "formats/format_registry.hpp"
#include "run/parallel_lint.hpp"
#include "base/path_names.hpp"

namespace keyhound {
CommandExit configuration_error(const std::string& message) {
  return CommandExit{Stream::Stderr,
                     message_error_lines(message, command_output_styles(STDERR_FILENO)),
                     kUsageErrorStatus};
}

namespace {

// More than any machine has: the processors cap it further.
constexpr unsigned kMostJobs = 1u << 20;

// "KH001, KH002" or "KH001 KH002": the codes, blanks dropped.
std::vector<std::string> split_codes(std::string_view list) {
  std::vector<std::string> codes;
  std::string code;
  for (char c : list) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!code.empty()) codes.push_back(std::move(code));
      code.clear();
    } else {
      code += c;
    }
  }
  if (!code.empty()) codes.push_back(std::move(code));
  return codes;
}

// Any whole number is taken (past the largest, the largest): --jobs is
// capped by the processors there are, wherever it came from.
std::expected<std::uint64_t, CommandLineError> parse_count(const std::string& text,
                                                           const std::string& flag,
                                                           const Setting& setting) {
  uint64_t count = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error == std::errc::result_out_of_range) {
    count = UINT64_MAX;
    error = std::errc();
  }
  if (error != std::errc() || end != text.data() + text.size() || count < 1) {
    return std::unexpected(CommandLineError{CommandLineError::Kind::InvalidValue, text, flag,
                                            "expected " +
                                                expected_value(setting, ValueLanguage::CommandLine)});
  }
  return count;
}

// What every step below reads: the command line, the configuration file
// when there is one, the working directory.
struct Sources {
  const ParsedArguments& arguments;
  std::span<const std::string> argv;
  const std::optional<Configuration>& configuration;
  const std::string& working_directory;
};

CommandExit invalid_value(const Sources& from, const std::string& value, std::string_view option,
                          std::string expected) {
  return usage_error(native_command(), from.argv,
                     CommandLineError{CommandLineError::Kind::InvalidValue, value,
                                      std::string(option), std::move(expected)});
}

// A value read from a setting's option, by the setting's kind.
std::expected<SettingValue, CommandExit> option_value(const Sources& from, const Setting& setting) {
  const std::string option(option_name(setting));
  const std::string flag = "--" + option;
  const ParsedArguments& arguments = from.arguments;
  auto selectors_checked = [&](SettingValue value) -> std::expected<SettingValue, CommandExit> {
    if (auto problem = selector_problem_in(setting, value)) {
      return std::unexpected(invalid_value(from, problem->selector, flag, problem->reason));
    }
    return value;
  };
  switch (setting.kind) {
    case SettingKind::Flag:
      // A "no-" option turns its setting off.
      return !option.starts_with("no-");
    case SettingKind::Count: {
      auto parsed = parse_count(*arguments.last(option), flag, setting);
      if (!parsed) return std::unexpected(usage_error(native_command(), from.argv, parsed.error()));
      return *parsed;
    }
    case SettingKind::Text: return *arguments.last(option);
    case SettingKind::Choice: {
      SettingValue value = *arguments.last(option);
      if (!in_range(setting, value)) {
        return std::unexpected(
            invalid_value(from, std::get<std::string>(value), flag,
                          "expected " + expected_value(setting, ValueLanguage::CommandLine)));
      }
      return value;
    }
    case SettingKind::Texts: return arguments.all(option);
    case SettingKind::Codes: {
      std::vector<std::string> codes;
      for (const std::string& value : arguments.all(option)) {
        std::vector<std::string> listed = split_codes(value);
        codes.insert(codes.end(), listed.begin(), listed.end());
      }
      return selectors_checked(std::move(codes));
    }
    case SettingKind::GlobCodes: {
      GlobCodes table;
      for (const std::string& value : arguments.all(option)) {
        std::size_t colon = value.rfind(':');
        if (colon == std::string::npos || colon == 0) {
          return std::unexpected(invalid_value(
              from, value, flag, "expected " + expected_value(setting, ValueLanguage::CommandLine)));
        }
        table.emplace_back(value.substr(0, colon),
                           split_codes(std::string_view(value).substr(colon + 1)));
      }
      return selectors_checked(std::move(table));
    }
  }
  return std::unexpected(configuration_error("unknown kind of setting"));
}

// The layers of a run: the configuration, the cache directory of the
// environment, then the command line.
std::expected<SettingLayers, CommandExit> layer_settings(const Sources& from) {
  SettingLayers layers;
  if (from.configuration) from.configuration->add_to(layers);
  const char* cache_dir = std::getenv("KEYHOUND_CACHE_DIR");
  if (cache_dir != nullptr && cache_dir[0] != '\0') {
    layers.give(SettingId::CacheDir, std::string(cache_dir), SettingOrigin::Environment,
                from.working_directory, "KEYHOUND_CACHE_DIR");
  }
  for (const Setting& setting : setting_table()) {
    if ((setting.sources & kFromCommandLine) == 0 || !from.arguments.has(option_name(setting))) {
      continue;
    }
    auto value = option_value(from, setting);
    if (!value) return std::unexpected(value.error());
    layers.give(setting.id, std::move(*value), SettingOrigin::CommandLine, from.working_directory,
                "--" + std::string(option_name(setting)));
  }
  return layers;
}

// More threads than processors only cost memory (a parse arena and a
// window of reports each) and can end a run under a memory limit.
void settle_jobs(const SettledSettings& settled, NativeOptions& options) {
  const unsigned processors = available_processors();
  const std::uint64_t jobs = settled.jobs.value_or(processors);
  options.jobs = static_cast<unsigned>(std::min<std::uint64_t>(jobs, processors));
  if (jobs > processors) {
    options.warnings.push_back("warning: " + std::to_string(std::min<std::uint64_t>(jobs, kMostJobs)) +
                               " jobs asked for, but only " +
                               counted(processors, "processor is", "processors are") +
                               " available; using " + std::to_string(processors) + "\n");
  }
}

// The cache: --no-cache, --cache-dir, KEYHOUND_CACHE_DIR, the
// configuration's cache-dir, beside the configuration, here.
void settle_cache(const Sources& from, const SettledSettings& settled, NativeOptions& options) {
  if (from.arguments.has("no-cache")) return;
  if (settled.cache_dir) {
    options.cache_dir = settled.cache_dir;
    options.cache_origin = settled.cache_dir_origin == SettingOrigin::Configuration
                               ? CacheOrigin::Configuration
                               : CacheOrigin::CommandLine;
    return;
  }
  options.cache_dir = join_path(
      from.configuration ? from.configuration->directory : from.working_directory,
      ".keyhound_cache");
}

}  // namespace

namespace {

// The paths to check: those named; with none, standard input when it was
// given a name, else the working directory (as ruff checks ".").
std::vector<std::string> paths_to_check(const ParsedArguments& arguments) {
  if (!arguments.positionals.empty()) return arguments.positionals;
  if (arguments.has("stdin-filename")) return {"-"};
  return {"."};
}

std::expected<NativeOptions, CommandExit> settle_with(const ParsedArguments& arguments,
                                                      std::span<const std::string> argv,
                                                      const std::optional<Configuration>& configuration,
                                                      const std::string& working_directory) {
  const Sources from{arguments, argv, configuration, working_directory};
  if (arguments.has("exact") && arguments.has("precise")) {
    return std::unexpected(
        configuration_error("the argument '--exact' cannot be used with '--precise'"));
  }
  auto layers = layer_settings(from);
  if (!layers) return std::unexpected(layers.error());
  const std::string project_root = configuration ? configuration->directory : working_directory;
  auto settled = settle_settings(*layers, working_directory, project_root);
  if (!settled) return std::unexpected(configuration_error(settled.error()));
  NativeOptions options;
  options.paths = paths_to_check(arguments);
  if (configuration) {
    options.configuration_directory = configuration->directory;
    options.configuration_file = configuration->file;
  }
  settle_jobs(*settled, options);
  options.discovery = DiscoveryOptions{settled->exclusions, settled->force_exclude,
                                       settled->respect_gitignore, arguments.last("stdin-filename"),
                                       working_directory, settled->precise};
  options.exit_zero = arguments.has("exit-zero");
  options.output_format = settled->output_format;
  options.output_file = arguments.last("output-file");
  options.statistics = arguments.has("statistics");
  options.show_files = arguments.has("show-files");
  options.show_settings = arguments.has("show-settings");
  settle_cache(from, *settled, options);
  options.ignore_noqa = settled->ignore_noqa;
  options.precise = settled->precise;
  options.add_noqa = arguments.has("add-noqa");
  options.write_baseline = arguments.last("write-baseline");
  options.baseline = settled->baseline;
  options.selection = std::move(settled->selection);
  options.settings = std::move(*layers);
  return options;
}

// The configurations of the paths: each distinct one once, in the order
// the paths first name them, and the index of each path's.
struct PathConfigurations {
  std::vector<std::optional<Configuration>> distinct;
  std::vector<std::size_t> of_path;
};

std::expected<PathConfigurations, std::string> configurations_of_paths(
    const std::vector<std::string>& paths, const std::string& working_directory) {
  auto here = find_configuration(std::nullopt, working_directory);
  if (!here) return std::unexpected(here.error());
  PathConfigurations found;
  // Many paths share a directory (pre-commit names every staged file).
  std::map<std::string, std::size_t, std::less<>> by_directory;
  auto index_of = [&](std::optional<Configuration> configuration) {
    const std::string file = configuration ? configuration->file : std::string();
    for (std::size_t i = 0; i < found.distinct.size(); ++i) {
      if ((found.distinct[i] ? found.distinct[i]->file : std::string()) == file) return i;
    }
    found.distinct.push_back(std::move(configuration));
    return found.distinct.size() - 1;
  };
  for (const std::string& path : paths) {
    std::string start = path == "-" ? working_directory
                                    : configuration_search_start(absolute_path(path, working_directory));
    auto known = by_directory.find(start);
    if (known == by_directory.end()) {
      auto nearest = start == working_directory ? here : find_configuration(std::nullopt, start);
      if (!nearest) return std::unexpected(nearest.error());
      known = by_directory.emplace(start, index_of(*nearest ? std::move(*nearest) : *here)).first;
    }
    found.of_path.push_back(known->second);
  }
  return found;
}

}  // namespace

std::expected<NativeOptions, CommandExit> settle_native_options(
    const ParsedArguments& arguments, std::span<const std::string> argv) {
  const std::string working_directory = current_directory();
  if (arguments.has("config") && arguments.has("isolated")) {
    return std::unexpected(configuration_error(
        "the argument '--config <FILE>' cannot be used with '--isolated'"));
  }
  if (arguments.has("isolated")) return settle_with(arguments, argv, std::nullopt, working_directory);
  if (arguments.has("config")) {
    auto found = find_configuration(arguments.last("config"), working_directory);
    if (!found) return std::unexpected(configuration_error(found.error()));
    return settle_with(arguments, argv, *found, working_directory);
  }
  auto found = configurations_of_paths(paths_to_check(arguments), working_directory);
  if (!found) return std::unexpected(configuration_error(found.error()));
  if (found->distinct.empty()) return settle_with(arguments, argv, std::nullopt, working_directory);
  auto options = settle_with(arguments, argv, found->distinct.front(), working_directory);
  if (!options || found->distinct.size() == 1) return options;
  for (std::size_t i = 1; i < found->distinct.size(); ++i) {
    auto other = settle_with(arguments, argv, found->distinct[i], working_directory);
    if (!other) return std::unexpected(other.error());
    options->other_projects.push_back(NativeOptions::Project{std::move(other->discovery),
                                                             std::move(other->selection),
                                                             other->configuration_directory});
  }
  options->path_projects = std::move(found->of_path);
  return options;
}

}  // namespace keyhound
