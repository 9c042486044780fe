#include "cli/native_options.hpp"

#include <algorithm>
#include <cstdint>

#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <map>
#include <tuple>

#include "analysis/rule_catalog.hpp"
#include "project/configuration.hpp"
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

// Any whole number of jobs is taken; more than the processors is capped
// below, whether it came from here or from the configuration.
std::expected<unsigned, CommandLineError> parse_jobs(const std::string& text) {
  uint64_t jobs = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
  if (error == std::errc::result_out_of_range) {
    jobs = UINT64_MAX;
    error = std::errc();
  }
  if (error != std::errc() || end != text.data() + text.size() || jobs < 1) {
    return std::unexpected(CommandLineError{CommandLineError::Kind::InvalidValue, text, "--jobs",
                                            "expected a whole number of 1 or more"});
  }
  return static_cast<unsigned>(std::min<uint64_t>(jobs, kMostJobs));
}

}  // namespace

namespace {

// What every step below reads: the command line, the configuration file
// when there is one, the working directory.
struct Sources {
  const ParsedArguments& arguments;
  std::span<const std::string> argv;
  const std::optional<Configuration>& configuration;
  const std::string& working_directory;
};

using Step = std::expected<void, CommandExit>;

CommandExit invalid_value(const Sources& from, const std::string& value, std::string_view option,
                          std::string expected) {
  return usage_error(native_command(), from.argv,
                     CommandLineError{CommandLineError::Kind::InvalidValue, value,
                                      std::string(option), std::move(expected)});
}

Step settle_jobs(const Sources& from, NativeOptions& options) {
  options.jobs = available_processors();
  if (from.configuration && from.configuration->jobs) options.jobs = *from.configuration->jobs;
  if (auto jobs = from.arguments.last("jobs")) {
    auto parsed = parse_jobs(*jobs);
    if (!parsed) return std::unexpected(usage_error(native_command(), from.argv, parsed.error()));
    options.jobs = *parsed;
  }
  // More threads than processors only cost memory (a parse arena and a
  // window of reports each) and can end a run under a memory limit.
  if (unsigned processors = available_processors(); options.jobs > processors) {
    options.warnings.push_back("warning: " + std::to_string(options.jobs) +
                               " jobs asked for, but only " +
                               counted(processors, "processor is", "processors are") +
                               " available; using " + std::to_string(processors) + "\n");
    options.jobs = processors;
  }
  return {};
}

void settle_discovery(const Sources& from, NativeOptions& options) {
  const ParsedArguments& arguments = from.arguments;
  const std::optional<Configuration>& configuration = from.configuration;
  DiscoveryOptions& discovery = options.discovery;
  discovery.working_directory = from.working_directory;
  // The exclusions: the default list, or the configuration's, or the
  // command line's; then every extension. Patterns are taken against the
  // directory of the place that gave them.
  if (arguments.has("exclude")) {
    discovery.exclusions = exclusion_patterns(arguments.all("exclude"), from.working_directory);
  } else if (configuration && configuration->exclude) {
    discovery.exclusions = exclusion_patterns(*configuration->exclude, configuration->directory);
  } else {
    discovery.exclusions = exclusion_patterns(default_exclusions(), from.working_directory);
  }
  if (configuration) {
    auto extra = exclusion_patterns(configuration->extend_exclude, configuration->directory);
    discovery.exclusions.insert(discovery.exclusions.end(), extra.begin(), extra.end());
  }
  auto extra = exclusion_patterns(arguments.all("extend-exclude"), from.working_directory);
  discovery.exclusions.insert(discovery.exclusions.end(), extra.begin(), extra.end());

  discovery.force_exclude = arguments.has("force-exclude") ||
                            (configuration && configuration->force_exclude.value_or(false));
  discovery.respect_gitignore =
      !arguments.has("no-respect-gitignore") &&
      (!configuration || configuration->respect_gitignore.value_or(true));
  discovery.stdin_filename = arguments.last("stdin-filename");
}

Step settle_output(const Sources& from, NativeOptions& options) {
  options.exit_zero = from.arguments.has("exit-zero");
  if (from.configuration && from.configuration->output_format) {
    options.output_format = *from.configuration->output_format;
  }
  if (auto format = from.arguments.last("output-format")) {
    if (!is_output_format(*format)) {
      return std::unexpected(invalid_value(from, *format, "--output-format",
                                           "expected one of: " + output_format_names()));
    }
    options.output_format = *format;
  }
  options.output_file = from.arguments.last("output-file");
  options.statistics = from.arguments.has("statistics");
  options.show_files = from.arguments.has("show-files");
  return {};
}

// The cache: --no-cache, --cache-dir, KEYHOUND_CACHE_DIR, the
// configuration's cache-dir, beside the configuration, here.
void settle_cache(const Sources& from, NativeOptions& options) {
  if (from.arguments.has("no-cache")) return;
  const std::optional<Configuration>& configuration = from.configuration;
  const char* from_environment = std::getenv("KEYHOUND_CACHE_DIR");
  if (auto given = from.arguments.last("cache-dir")) {
    options.cache_dir = absolute_path(*given, from.working_directory);
    options.cache_origin = CacheOrigin::CommandLine;
  } else if (from_environment != nullptr && from_environment[0] != '\0') {
    options.cache_dir = absolute_path(from_environment, from.working_directory);
    options.cache_origin = CacheOrigin::CommandLine;
  } else if (configuration && configuration->cache_dir) {
    options.cache_dir = absolute_path(*configuration->cache_dir, configuration->directory);
    options.cache_origin = CacheOrigin::Configuration;
  } else {
    options.cache_dir = join_path(configuration ? configuration->directory : from.working_directory,
                                  ".keyhound_cache");
  }
}

// Precise unless asked for the module's rule: `--exact` or `exact = true`
// (an old `precise = false` says the same); the command line wins.
std::expected<bool, CommandExit> settle_precise(const Sources& from) {
  const ParsedArguments& arguments = from.arguments;
  if (arguments.has("exact") && arguments.has("precise")) {
    return std::unexpected(
        configuration_error("the argument '--exact' cannot be used with '--precise'"));
  }
  if (arguments.has("exact")) return false;
  if (arguments.has("precise") || !from.configuration) return true;
  auto configured = configured_precise(*from.configuration);
  if (!configured) return std::unexpected(configuration_error(configured.error()));
  return *configured;
}

Step settle_analysis(const Sources& from, NativeOptions& options) {
  const std::optional<Configuration>& configuration = from.configuration;
  options.ignore_noqa = from.arguments.has("ignore-noqa");
  auto precise = settle_precise(from);
  if (!precise) return std::unexpected(precise.error());
  options.precise = *precise;
  options.add_noqa = from.arguments.has("add-noqa");
  options.write_baseline = from.arguments.last("write-baseline");
  options.baseline = from.arguments.last("baseline");
  if (!options.baseline && configuration && configuration->baseline) {
    options.baseline = absolute_path(*configuration->baseline, configuration->directory);
  }
  return {};
}

// A selector that matches no rule would turn the linter off without a
// word: a typo in --select must fail the run, not pass it.
Step check_selectors(const Sources& from, std::string_view option,
                     const std::vector<std::string>& codes, bool from_configuration) {
  if (from_configuration) {
    if (auto problem = configured_selector_problem(from.configuration->file, option, codes)) {
      return std::unexpected(configuration_error(*problem));
    }
    return {};
  }
  for (const std::string& code : codes) {
    if (std::optional<std::string> problem = selector_problem(code)) {
      return std::unexpected(invalid_value(from, code, "--" + std::string(option), *problem));
    }
  }
  return {};
}

// Codes: the command line's lists replace the configuration's.
Step settle_codes(const Sources& from, std::string_view option,
                  const std::vector<std::string>* configured, std::vector<std::string>& into) {
  const bool given = from.arguments.has(option);
  if (!given && configured == nullptr) return {};
  for (const std::string& value : given ? from.arguments.all(option) : *configured) {
    std::vector<std::string> listed = split_codes(value);
    into.insert(into.end(), listed.begin(), listed.end());
  }
  return check_selectors(from, option, into, !given);
}

void settle_test_code(const Sources& from, NativeOptions& options) {
  const std::optional<Configuration>& configuration = from.configuration;
  if (!options.precise || from.arguments.has("include-tests") ||
      (configuration && configuration->include_tests.value_or(false))) {
    return;
  }
  bool configured = configuration && configuration->test_paths;
  options.selection.test_code = exclusion_patterns(
      configured ? *configuration->test_paths : default_test_paths(),
      configured ? configuration->directory : from.working_directory);
  options.selection.project_root = configuration ? configuration->directory : from.working_directory;
}

Step settle_selection(const Sources& from, NativeOptions& options) {
  const std::optional<Configuration>& configuration = from.configuration;
  CodeSelection& selection = options.selection;
  for (auto [option, configured, into] :
       {std::tuple{"select", configuration ? &configuration->select : nullptr, &selection.select},
        std::tuple{"ignore", configuration ? &configuration->ignore : nullptr, &selection.ignore}}) {
    if (auto settled = settle_codes(from, option, configured, *into); !settled) return settled;
  }
  if (configuration) {
    for (const auto& [glob, listed] : configuration->per_file_ignores) {
      if (auto checked = check_selectors(from, "per-file-ignores", listed, true); !checked) {
        return checked;
      }
      selection.per_file_ignores.emplace_back(ExclusionPattern(glob, configuration->directory),
                                              listed);
    }
  }
  settle_test_code(from, options);
  // Precise mode ranks its findings; --exact reports them all, as the
  // module does.
  if (options.precise) {
    selection.min_confidence = kDefaultMinConfidence;
    if (configuration && configuration->min_confidence) {
      selection.min_confidence = *configuration->min_confidence;
    }
    if (auto tier = from.arguments.last("min-confidence")) {
      std::optional<Confidence> named = confidence_named(*tier);
      if (!named) {
        return std::unexpected(
            invalid_value(from, *tier, "--min-confidence", "expected one of: high, medium, low"));
      }
      selection.min_confidence = *named;
    }
  }
  for (const std::string& value : from.arguments.all("per-file-ignores")) {
    std::size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0) {
      return std::unexpected(invalid_value(from, value, "--per-file-ignores", "expected GLOB:CODES"));
    }
    std::vector<std::string> codes = split_codes(std::string_view(value).substr(colon + 1));
    if (auto checked = check_selectors(from, "per-file-ignores", codes, false); !checked) {
      return checked;
    }
    selection.per_file_ignores.emplace_back(ExclusionPattern(value.substr(0, colon),
                                                             from.working_directory),
                                            std::move(codes));
  }
  return {};
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
  NativeOptions options;
  options.paths = paths_to_check(arguments);
  if (configuration) options.configuration_directory = configuration->directory;
  if (auto jobs = settle_jobs(from, options); !jobs) return std::unexpected(jobs.error());
  settle_discovery(from, options);
  if (auto output = settle_output(from, options); !output) return std::unexpected(output.error());
  settle_cache(from, options);
  if (auto analysis = settle_analysis(from, options); !analysis) {
    return std::unexpected(analysis.error());
  }
  if (auto selection = settle_selection(from, options); !selection) {
    return std::unexpected(selection.error());
  }
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
