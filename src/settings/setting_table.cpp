#include "settings/setting_table.hpp"

#include <algorithm>
#include <array>

#include "analysis/rule_catalog.hpp"
#include "formats/format_registry.hpp"
#include "rules/risk.hpp"

namespace keyhound {
namespace {

constexpr unsigned kEverywhere = kFromCommandLine | kFromConfiguration | kFromApi | kFromServer;
// What decides which files a run walks: the command, its configuration and
// the API's check_paths (an editor checks the documents it opens).
constexpr unsigned kWalks = kFromCommandLine | kFromConfiguration | kFromApi;
// What only a run of the command has: threads, a format, files it keeps.
constexpr unsigned kCommandRun = kFromCommandLine | kFromConfiguration;

// Every setting once, in the order help and --show-settings list them.
constexpr std::array<Setting, kSettingCount> kSettings = {{
    {SettingId::Jobs, "jobs", SettingKind::Count, kCommandRun, "", 'j', "<N>",
     "Files analysed at once [default: the processors available]", "the processors available"},
    {SettingId::Exclude, "exclude", SettingKind::Texts, kWalks, "", '\0', "<PATTERN>",
     "Paths to skip in directories instead of the defaults (globs, comma-separated, repeatable)",
     "the usual directories (.git, .venv, build, node_modules, ...)"},
    {SettingId::ExtendExclude, "extend-exclude", SettingKind::Texts, kWalks, "", '\0', "<PATTERN>",
     "Paths to skip in addition to the default list", "[]"},
    {SettingId::ForceExclude, "force-exclude", SettingKind::Flag, kWalks, "", '\0', "",
     "Apply the exclusions to paths named on the command line too", "false"},
    {SettingId::RespectGitignore, "respect-gitignore", SettingKind::Flag, kWalks,
     "no-respect-gitignore", '\0', "", "Analyse files that git ignores too", "true"},
    {SettingId::OutputFormat, "output-format", SettingKind::Choice, kCommandRun, "", '\0',
     "<FORMAT>", "", "\"full\""},
    {SettingId::Exact, "exact", SettingKind::Flag, kEverywhere, "", '\0', "",
     "Report as the Python module does: every guarded-nowhere subscript, tests too", "false"},
    {SettingId::Precise, "precise", SettingKind::Flag, kEverywhere, "", '\0', "",
     "Report only what can really raise KeyError, once, where it can be fixed [default]",
     "true"},
    {SettingId::IncludeTests, "include-tests", SettingKind::Flag, kEverywhere, "", '\0', "",
     "Report test code too (test directories, test_*.py, *_test.py, conftest.py)", "false"},
    {SettingId::TestPaths, "test-paths", SettingKind::Texts, kEverywhere, "", '\0', "<GLOB>",
     "Globs naming test code instead of the usual names (comma-separated, repeatable)",
     "test directories, test_*.py, *_test.py, conftest.py"},
    {SettingId::MinConfidence, "min-confidence", SettingKind::Choice, kEverywhere, "", '\0',
     "<TIER>",
     "Report only findings this likely to raise or more: high, medium or low [default: medium]",
     "\"medium\""},
    {SettingId::Select, "select", SettingKind::Codes, kEverywhere, "", '\0', "<CODES>",
     "Report only these codes (by prefix: KH is every code)", "every code but KH100"},
    {SettingId::Ignore, "ignore", SettingKind::Codes, kEverywhere, "", '\0', "<CODES>",
     "Do not report these codes", "[]"},
    {SettingId::PerFileIgnores, "per-file-ignores", SettingKind::GlobCodes, kEverywhere, "", '\0',
     "<GLOB:CODES>", "Do not report these codes in files that match (repeatable)", "{}"},
    {SettingId::IgnoreNoqa, "ignore-noqa", SettingKind::Flag, kEverywhere, "", '\0', "",
     "Report findings that # noqa comments suppress", "false"},
    {SettingId::Baseline, "baseline", SettingKind::Text, kCommandRun, "", '\0', "<FILE>",
     "Report only findings that this baseline does not hold", "none"},
    {SettingId::CacheDir, "cache-dir", SettingKind::Text, kCommandRun, "", '\0', "<DIR>",
     "Where the result cache lives [default: .keyhound_cache beside the configuration]",
     ".keyhound_cache beside the configuration"},
}};

constexpr bool ids_follow_the_table() {
  for (std::size_t i = 0; i < kSettings.size(); ++i) {
    if (static_cast<std::size_t>(kSettings[i].id) != i) return false;
  }
  return true;
}
static_assert(ids_follow_the_table(), "setting_of() indexes the table by id");

std::string quoted(std::string_view text, char quote) {
  std::string out(1, quote);
  out += text;
  out += quote;
  return out;
}

// "one of \"a\", \"b\"" (TOML, JSON), "one of 'a', 'b'" (Python) or
// "one of: a, b" (the command line).
std::string one_of(const std::vector<std::string>& choices, ValueLanguage language) {
  std::string text = language == ValueLanguage::CommandLine ? "one of: " : "one of ";
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (i > 0) text += ", ";
    switch (language) {
      case ValueLanguage::CommandLine: text += choices[i]; break;
      case ValueLanguage::Python: text += quoted(choices[i], '\''); break;
      default: text += quoted(choices[i], '"'); break;
    }
  }
  return text;
}

}  // namespace

std::span<const Setting> setting_table() { return kSettings; }

const Setting& setting_of(SettingId id) { return kSettings[static_cast<std::size_t>(id)]; }

std::string key_for(const Setting& setting, SettingSource source) {
  std::string key(setting.key);
  if (source == kFromApi) std::replace(key.begin(), key.end(), '-', '_');
  return key;
}

const Setting* setting_named(std::string_view key, SettingSource source) {
  for (const Setting& setting : kSettings) {
    if ((setting.sources & source) != 0 && key_for(setting, source) == key) return &setting;
  }
  return nullptr;
}

std::vector<std::string> setting_keys(SettingSource source) {
  std::vector<std::string> keys;
  for (const Setting& setting : kSettings) {
    if ((setting.sources & source) != 0) keys.push_back(key_for(setting, source));
  }
  return keys;
}

std::string_view option_name(const Setting& setting) {
  return setting.option.empty() ? setting.key : setting.option;
}

std::string help_of(const Setting& setting) {
  if (setting.id == SettingId::OutputFormat) return output_format_help();
  return std::string(setting.help);
}

std::vector<std::string> setting_choices(const Setting& setting) {
  switch (setting.id) {
    case SettingId::OutputFormat: {
      std::vector<std::string> names;
      for (const FormatEntry& format : output_formats()) names.emplace_back(format.name);
      return names;
    }
    case SettingId::MinConfidence: {
      std::vector<std::string> names;
      for (Confidence tier : {Confidence::High, Confidence::Medium, Confidence::Low}) {
        names.emplace_back(confidence_name(tier));
      }
      return names;
    }
    default: return {};
  }
}

std::string expected_value(const Setting& setting, ValueLanguage language) {
  const bool python = language == ValueLanguage::Python;
  switch (setting.kind) {
    case SettingKind::Flag: return python ? "True or False" : "true or false";
    case SettingKind::Count:
      return python ? "an int of 1 or more" : "a whole number of 1 or more";
    case SettingKind::Text: return python ? "a str" : "a string";
    case SettingKind::Choice: return one_of(setting_choices(setting), language);
    case SettingKind::Texts:
    case SettingKind::Codes:
      return python ? "a list of str"
                    : (language == ValueLanguage::Json ? "a list of strings"
                                                       : "an array of strings");
    case SettingKind::GlobCodes:
      if (language == ValueLanguage::CommandLine) return "GLOB:CODES";
      return python ? "a dict of glob to codes" : "a table of glob to codes";
  }
  return {};
}

bool in_range(const Setting& setting, const SettingValue& value) {
  if (setting.kind == SettingKind::Count) {
    const auto* count = std::get_if<std::uint64_t>(&value);
    return count != nullptr && *count >= 1;
  }
  if (setting.kind == SettingKind::Choice) {
    const auto* text = std::get_if<std::string>(&value);
    std::vector<std::string> choices = setting_choices(setting);
    return text != nullptr && std::find(choices.begin(), choices.end(), *text) != choices.end();
  }
  return true;
}

std::optional<SelectorProblem> selector_problem_in(const Setting& setting,
                                                   const SettingValue& value) {
  if (setting.kind != SettingKind::Codes && setting.kind != SettingKind::GlobCodes) {
    return std::nullopt;
  }
  auto first_bad = [](const std::vector<std::string>& codes) -> std::optional<SelectorProblem> {
    for (const std::string& code : codes) {
      if (auto problem = selector_problem(code)) return SelectorProblem{code, *problem};
    }
    return std::nullopt;
  };
  if (const auto* codes = std::get_if<std::vector<std::string>>(&value)) return first_bad(*codes);
  if (const auto* table = std::get_if<GlobCodes>(&value)) {
    for (const auto& [glob, codes] : *table) {
      if (auto problem = first_bad(codes)) return problem;
    }
  }
  return std::nullopt;
}

std::string must_be_message(const Setting& setting, ValueLanguage language,
                            std::string_view found) {
  const bool python = language == ValueLanguage::Python;
  std::string message = python ? key_for(setting, kFromApi) : quoted(setting.key, '\'');
  message += " must be ";
  message += expected_value(setting, language);
  if (!found.empty()) {
    message += ", not ";
    message += found;
  }
  return message;
}

}  // namespace keyhound
