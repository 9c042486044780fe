#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace keyhound {

// The kinds of value a setting takes. Each kind is read alike from every
// source (the command line, [tool.keyhound], the API's keywords, the
// server's initializationOptions) and says alike what it expects.
enum class SettingKind {
  Flag,       // true or false
  Count,      // a whole number of 1 or more
  Text,       // a string
  Choice,     // one of the setting's choices
  Texts,      // a list of strings (globs)
  Codes,      // a list of rule selectors
  GlobCodes,  // glob to a list of rule selectors
};

enum class SettingId : std::uint8_t {
  Jobs,
  Exclude,
  ExtendExclude,
  ForceExclude,
  RespectGitignore,
  OutputFormat,
  Exact,
  Precise,
  IncludeTests,
  TestPaths,
  MinConfidence,
  Select,
  Ignore,
  PerFileIgnores,
  IgnoreNoqa,
  Baseline,
  CacheDir,
};
inline constexpr std::size_t kSettingCount = static_cast<std::size_t>(SettingId::CacheDir) + 1;

// The places a setting may be given.
enum SettingSource : unsigned {
  kFromCommandLine = 1,
  kFromConfiguration = 2,
  kFromApi = 4,
  kFromServer = 8,
};

struct Setting {
  SettingId id;
  // The configuration key and the server's key ("extend-exclude"); the
  // API's keyword is the same with '_' for '-'.
  std::string_view key;
  SettingKind kind;
  unsigned sources;
  // The command line's long option when it is not the key
  // ("no-respect-gitignore" turns respect-gitignore off), and its letter.
  std::string_view option;
  char letter;
  // The value's name in help ("<N>"); empty for a flag.
  std::string_view value_name;
  std::string_view help;
  // What holds when nothing sets it, as --show-settings prints it.
  std::string_view default_text;
};

std::span<const Setting> setting_table();
const Setting& setting_of(SettingId id);
// The setting named `key` that `source` may give: a configuration or
// server key ("include-tests") or an API keyword ("include_tests").
const Setting* setting_named(std::string_view key, SettingSource source);
// The keys `source` may give, in table order, as that source spells them.
std::vector<std::string> setting_keys(SettingSource source);
// The key as `source` spells it: '_' for '-' in the API.
std::string key_for(const Setting& setting, SettingSource source);
// The command line's long option of a setting (without the dashes).
std::string_view option_name(const Setting& setting);

// The help of a setting's option, as --help shows it.
std::string help_of(const Setting& setting);

// The choices of a Choice setting, in the order messages list them.
std::vector<std::string> setting_choices(const Setting& setting);

using GlobCodes = std::vector<std::pair<std::string, std::vector<std::string>>>;
using SettingValue = std::variant<bool, std::uint64_t, std::string, std::vector<std::string>,
                                  GlobCodes>;

// The languages a value is written in: they spell types differently
// ("true or false", "True or False").
enum class ValueLanguage { Toml, Json, Python, CommandLine };

// What a setting expects, in `language`: "a whole number of 1 or more",
// "one of \"high\", \"medium\", \"low\"", "a list of str".
std::string expected_value(const Setting& setting, ValueLanguage language);

// Whether a value of the right type is one the setting takes: a count of
// at least 1, one of the choices. Other kinds take any value of their type.
bool in_range(const Setting& setting, const SettingValue& value);

// A selector of a Codes or GlobCodes value that selects no rule, with why
// ("did you mean 'KH001'?"); nothing when every one selects something.
struct SelectorProblem {
  std::string selector;
  std::string reason;
};
std::optional<SelectorProblem> selector_problem_in(const Setting& setting,
                                                   const SettingValue& value);

// "'jobs' must be a whole number of 1 or more, not an integer 0": the
// message for a value of the wrong type or out of range, `found` saying
// what was given.
std::string must_be_message(const Setting& setting, ValueLanguage language,
                            std::string_view found);

}  // namespace keyhound
