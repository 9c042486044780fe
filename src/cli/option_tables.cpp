#include <array>

#include "cli/command_line.hpp"
#include "formats/format_registry.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kAbout = "Keyhound is a Python code linter written in C++";

// The native command's options, in the order help lists them.
const std::array kNativeOptions = {
    OptionSpec{"jobs", 'j', "<N>", "Files analysed at once [default: the processors available]"},
    OptionSpec{"exclude", '\0', "<PATTERN>",
               "Paths to skip in directories instead of the defaults (globs, comma-separated, "
               "repeatable)"},
    OptionSpec{"extend-exclude", '\0', "<PATTERN>", "Paths to skip in addition to the default list"},
    OptionSpec{"force-exclude", '\0', "", "Apply the exclusions to paths named on the command line too"},
    OptionSpec{"no-respect-gitignore", '\0', "", "Analyse files that git ignores too"},
    OptionSpec{"stdin-filename", '\0', "<PATH>",
               "The name shown for standard input; alone, it reads standard input"},
    OptionSpec{"exit-zero", '\0', "", "Exit with status 0 even when there are findings"},
    OptionSpec{"output-format", '\0', "<FORMAT>", output_format_help()},
    OptionSpec{"output-file", 'o', "<PATH>",
               "Write the report to this file (errors and summaries stay on standard error)"},
    OptionSpec{"exact", '\0', "",
               "Report as the Python module does: every guarded-nowhere subscript, tests too"},
    OptionSpec{"precise", '\0', "",
               "Report only what can really raise KeyError, once, where it can be fixed "
               "[default]"},
    OptionSpec{"include-tests", '\0', "",
               "Report test code too (test directories, test_*.py, *_test.py, conftest.py)"},
    OptionSpec{"min-confidence", '\0', "<TIER>",
               "Report only findings this likely to raise or more: high, medium or low "
               "[default: medium]"},
    OptionSpec{"select", '\0', "<CODES>", "Report only these codes (by prefix: KH is every code)"},
    OptionSpec{"ignore", '\0', "<CODES>", "Do not report these codes"},
    OptionSpec{"per-file-ignores", '\0', "<GLOB:CODES>",
               "Do not report these codes in files that match (repeatable)"},
    OptionSpec{"ignore-noqa", '\0', "", "Report findings that # noqa comments suppress"},
    OptionSpec{"add-noqa", '\0', "", "Add a # noqa comment for every finding, then stop"},
    OptionSpec{"baseline", '\0', "<FILE>", "Report only findings that this baseline does not hold"},
    OptionSpec{"write-baseline", '\0', "<FILE>", "Record the findings of this run as a baseline"},
    OptionSpec{"no-cache", '\0', "", "Neither read nor write the result cache"},
    OptionSpec{"cache-dir", '\0', "<DIR>",
               "Where the result cache lives [default: .keyhound_cache beside the configuration]"},
    OptionSpec{"config", '\0', "<FILE>",
               "Read [tool.keyhound] from this file instead of the nearest pyproject.toml"},
    OptionSpec{"isolated", '\0', "", "Ignore configuration files"},
    OptionSpec{"statistics", '\0', "",
               "Print one line per code with its count, most frequent first, instead of the "
               "findings"},
    OptionSpec{"show-files", '\0', "",
               "Print the files a run would check, one a line, and check none"},
    OptionSpec{"explain", '\0', "<CODE>",
               "Explain a rule (KH001, KH002, KH003): what it finds, why, and how to fix it",
               true},
};

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
      kNativeOptions, true, kNativeCommands};
  return spec;
}

}  // namespace keyhound
