#include <array>

#include "cli/command_line.hpp"
#include "settings/setting_table.hpp"
#include <string>
#include <variant>
#include <vector>

namespace keyhound {
namespace {

constexpr std::string_view kAbout = "Keyhound is a Python code linter written in C++";

// One row of the native command's options: a setting (its option comes
// from the table of settings) or an action of the command alone.
using NativeOption = std::variant<SettingId, OptionSpec>;

// The native command's options, in the order help lists them.
const std::array kNativeOptions = {
    NativeOption{SettingId::Jobs},
    NativeOption{SettingId::Exclude},
    NativeOption{SettingId::ExtendExclude},
    NativeOption{SettingId::ForceExclude},
    NativeOption{SettingId::RespectGitignore},
    NativeOption{OptionSpec{"stdin-filename", '\0', "<PATH>",
                            "The name shown for standard input; alone, it reads standard input"}},
    NativeOption{OptionSpec{"exit-zero", '\0', "", "Exit with status 0 even when there are findings"}},
    NativeOption{SettingId::OutputFormat},
    NativeOption{OptionSpec{"output-file", 'o', "<PATH>",
                            "Write the report to this file (errors and summaries stay on standard "
                            "error)"}},
    NativeOption{SettingId::Exact},
    NativeOption{SettingId::Precise},
    NativeOption{SettingId::IncludeTests},
    NativeOption{SettingId::TestPaths},
    NativeOption{SettingId::MinConfidence},
    NativeOption{SettingId::Select},
    NativeOption{SettingId::Ignore},
    NativeOption{SettingId::PerFileIgnores},
    NativeOption{SettingId::IgnoreNoqa},
    NativeOption{OptionSpec{"add-noqa", '\0', "", "Add a # noqa comment for every finding, then stop"}},
    NativeOption{SettingId::Baseline},
    NativeOption{OptionSpec{"write-baseline", '\0', "<FILE>",
                            "Record the findings of this run as a baseline"}},
    NativeOption{OptionSpec{"no-cache", '\0', "", "Neither read nor write the result cache"}},
    NativeOption{SettingId::CacheDir},
    NativeOption{OptionSpec{"config", '\0', "<FILE>",
                            "Read [tool.keyhound] from this file instead of the nearest "
                            "pyproject.toml"}},
    NativeOption{OptionSpec{"isolated", '\0', "", "Ignore configuration files"}},
    NativeOption{OptionSpec{"statistics", '\0', "",
                            "Print one line per code with its count, most frequent first, instead "
                            "of the findings"}},
    NativeOption{OptionSpec{"show-settings", '\0', "",
                            "Print the settings the first path is checked with and where each "
                            "came from, and check nothing"}},
    NativeOption{OptionSpec{"show-files", '\0', "",
                            "Print the files a run would check, one a line, and check none"}},
    NativeOption{OptionSpec{"explain", '\0', "<CODE>",
                            "Explain a rule (KH001, KH002, KH003): what it finds, why, and how to "
                            "fix it",
                            true}},
};

// The options as the parser and help take them, settings read from their
// table once.
const std::vector<OptionSpec>& native_options() {
  static const std::vector<OptionSpec> options = [] {
    static std::vector<std::string> helps;
    helps.reserve(kNativeOptions.size());
    std::vector<OptionSpec> specs;
    for (const NativeOption& row : kNativeOptions) {
      if (const auto* action = std::get_if<OptionSpec>(&row)) {
        specs.push_back(*action);
        continue;
      }
      const Setting& setting = setting_of(std::get<SettingId>(row));
      helps.push_back(help_of(setting));
      specs.push_back(OptionSpec{option_name(setting), setting.letter, setting.value_name,
                                 helps.back()});
    }
    return specs;
  }();
  return options;
}

}  // namespace

const CommandSpec& module_command() {
  static const CommandSpec spec{kAbout, "<files>...", "Python files to analyze", {}};
  return spec;
}

// The native command's about text: what it finds, in one line.
constexpr std::string_view kNativeAbout =
    "keyhound finds the lookups in Python code that can raise KeyError (a d[k] that no try "
    "guards, a call that lets one escape)";

const std::array kNativeCommands = {
    SubcommandSpec{"check", "[OPTIONS] [PATHS]...",
                   "Check files and directories (what keyhound does when no command is named)"},
    SubcommandSpec{"server", "",
                   "Run as a language server for editors, on standard input and output"},
};

const CommandSpec& native_command() {
  static const CommandSpec spec{
      kNativeAbout, "[PATHS]...",
      "Python files or directories to analyze [default: .]; - reads standard input",
      native_options(), true, kNativeCommands};
  return spec;
}

}  // namespace keyhound
