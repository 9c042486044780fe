#include "cli/native_options.hpp"

#include <unistd.h>

#include <charconv>
#include <cstdlib>

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

constexpr unsigned kMostJobs = 4096;

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

std::expected<unsigned, CommandLineError> parse_jobs(const std::string& text) {
  unsigned jobs = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
  if (error != std::errc() || end != text.data() + text.size() || jobs < 1 || jobs > kMostJobs) {
    return std::unexpected(CommandLineError{CommandLineError::Kind::InvalidValue, text, "--jobs",
                                            "expected a whole number from 1 to 4096"});
  }
  return jobs;
}

}  // namespace

std::expected<NativeOptions, CommandExit> settle_native_options(
    const ParsedArguments& arguments, std::span<const std::string> argv) {
  NativeOptions options;
  options.paths = arguments.positionals;
  const std::string working_directory = current_directory();

  if (arguments.has("config") && arguments.has("isolated")) {
    return std::unexpected(configuration_error(
        "the argument '--config <FILE>' cannot be used with '--isolated'"));
  }
  std::optional<Configuration> configuration;
  if (!arguments.has("isolated")) {
    auto found = find_configuration(arguments.last("config"), working_directory);
    if (!found) return std::unexpected(configuration_error(found.error()));
    configuration = std::move(*found);
  }

  options.jobs = available_processors();
  if (configuration && configuration->jobs) options.jobs = *configuration->jobs;
  if (auto jobs = arguments.last("jobs")) {
    auto parsed = parse_jobs(*jobs);
    if (!parsed) return std::unexpected(usage_error(native_command(), argv, parsed.error()));
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

  DiscoveryOptions& discovery = options.discovery;
  discovery.working_directory = working_directory;
  // The exclusions: the default list, or the configuration's, or the
  // command line's; then every extension. Patterns are taken against the
  // directory of the place that gave them.
  if (arguments.has("exclude")) {
    discovery.exclusions = exclusion_patterns(arguments.all("exclude"), working_directory);
  } else if (configuration && configuration->exclude) {
    discovery.exclusions = exclusion_patterns(*configuration->exclude, configuration->directory);
  } else {
    discovery.exclusions = exclusion_patterns(default_exclusions(), working_directory);
  }
  if (configuration) {
    auto extra = exclusion_patterns(configuration->extend_exclude, configuration->directory);
    discovery.exclusions.insert(discovery.exclusions.end(), extra.begin(), extra.end());
  }
  auto extra = exclusion_patterns(arguments.all("extend-exclude"), working_directory);
  discovery.exclusions.insert(discovery.exclusions.end(), extra.begin(), extra.end());

  discovery.force_exclude = arguments.has("force-exclude") ||
                            (configuration && configuration->force_exclude.value_or(false));
  discovery.respect_gitignore =
      !arguments.has("no-respect-gitignore") &&
      (!configuration || configuration->respect_gitignore.value_or(true));
  discovery.stdin_filename = arguments.last("stdin-filename");
  options.exit_zero = arguments.has("exit-zero");

  if (configuration && configuration->output_format) {
    options.output_format = *configuration->output_format;
  }
  if (auto format = arguments.last("output-format")) {
    if (!is_output_format(*format)) {
      return std::unexpected(usage_error(
          native_command(), argv,
          CommandLineError{CommandLineError::Kind::InvalidValue, *format, "--output-format",
                           "expected one of: " + output_format_names()}));
    }
    options.output_format = *format;
  }
  options.output_file = arguments.last("output-file");

  // The cache: --no-cache, --cache-dir, KEYHOUND_CACHE_DIR, the
  // configuration's cache-dir, beside the configuration, here.
  if (!arguments.has("no-cache")) {
    const char* from_environment = std::getenv("KEYHOUND_CACHE_DIR");
    if (auto given = arguments.last("cache-dir")) {
      options.cache_dir = absolute_path(*given, working_directory);
      options.cache_origin = CacheOrigin::CommandLine;
    } else if (from_environment != nullptr && from_environment[0] != '\0') {
      options.cache_dir = absolute_path(from_environment, working_directory);
      options.cache_origin = CacheOrigin::CommandLine;
    } else if (configuration && configuration->cache_dir) {
      options.cache_dir = absolute_path(*configuration->cache_dir, configuration->directory);
      options.cache_origin = CacheOrigin::Configuration;
    } else {
      options.cache_dir =
          join_path(configuration ? configuration->directory : working_directory, ".keyhound_cache");
    }
  }
  options.ignore_noqa = arguments.has("ignore-noqa");
  options.precise = arguments.has("precise") || (configuration && configuration->precise.value_or(false));
  options.add_noqa = arguments.has("add-noqa");
  options.write_baseline = arguments.last("write-baseline");
  options.baseline = arguments.last("baseline");
  if (!options.baseline && configuration && configuration->baseline) {
    options.baseline = absolute_path(*configuration->baseline, configuration->directory);
  }
  // Codes: the command line's lists replace the configuration's.
  auto codes = [&](std::string_view option, const std::vector<std::string>& configured) {
    std::vector<std::string> split;
    for (const std::string& value : arguments.has(option) ? arguments.all(option) : configured) {
      std::vector<std::string> listed = split_codes(value);
      split.insert(split.end(), listed.begin(), listed.end());
    }
    return split;
  };
  options.selection.select =
      codes("select", configuration ? configuration->select : std::vector<std::string>{});
  options.selection.ignore =
      codes("ignore", configuration ? configuration->ignore : std::vector<std::string>{});
  if (configuration) {
    for (const auto& [glob, listed] : configuration->per_file_ignores) {
      options.selection.per_file_ignores.emplace_back(
          ExclusionPattern(glob, configuration->directory), listed);
    }
  }
  for (const std::string& value : arguments.all("per-file-ignores")) {
    std::size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0) {
      return std::unexpected(usage_error(
          native_command(), argv,
          CommandLineError{CommandLineError::Kind::InvalidValue, value, "--per-file-ignores",
                           "expected GLOB:CODES"}));
    }
    options.selection.per_file_ignores.emplace_back(
        ExclusionPattern(value.substr(0, colon), working_directory),
        split_codes(std::string_view(value).substr(colon + 1)));
  }
  return options;
}

}  // namespace keyhound
