#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "output/stylesheet.hpp"
#include "base/version.hpp"

namespace keyhound {


// One option of a front end's table. `-h` and `--help`, `-V` and
// `--version` are in every table, last.
struct OptionSpec {
  // The long name without dashes ("jobs"): also the key of its values.
  std::string_view long_name;
  // The short letter, or '\0' for none.
  char short_name = '\0';
  // The value's name in help and errors ("<N>"); empty for a flag.
  std::string_view value_name;
  std::string_view help;
  // Whether the option makes sense without paths (--explain).
  bool stands_alone = false;
};

struct SubcommandSpec {
  std::string_view name;
  std::string_view usage;  // what follows the name on its usage line
  std::string_view help;
};

// A front end's whole command line.
struct CommandSpec {
  std::string_view about;
  // The positional argument as help and errors show it ("<files>...").
  std::string_view positional;
  std::string_view positional_help;
  std::span<const OptionSpec> options;
  // Whether the paths may be left out (the native command then checks ".").
  bool positional_optional = false;
  // Commands named by the first argument ("check", "server"), with the
  // rest of their usage line and their help; help lists them.
  std::span<const SubcommandSpec> subcommands = {};
};

// The Python module's command line: files, -h and -V, nothing else.
const CommandSpec& module_command();
// The native command's.
const CommandSpec& native_command();

struct HelpRequest {};
struct VersionRequest {};

// A command-line error, kept in parts so that it can be written plain or
// styled.
struct CommandLineError {
  enum class Kind {
    UnknownArgument,   // `subject` is the offending element (--foo, -x)
    UnexpectedValue,   // `subject` is the value, `flag` the flag given it
    MissingValue,      // `flag` is the option and its value name
    InvalidValue,      // `subject` is the value, `flag` the option, `reason` why
    InvalidUtf8,
    MissingFiles,
  };
  Kind kind;
  std::string subject;
  // The option that the usage line names: the suggestion for an unknown long
  // option, or the option whose value was wrong.
  std::optional<std::string> flag;
  std::string reason;
};

// What a command line asks for when it runs: the positional values in
// order, and the values of each option given (a flag has one empty value
// per time it was given), keyed by its long name.
struct ParsedArguments {
  std::vector<std::string> positionals;
  std::map<std::string, std::vector<std::string>, std::less<>> values;

  bool has(std::string_view option) const { return values.find(option) != values.end(); }
  // The last value given, if any.
  std::optional<std::string> last(std::string_view option) const;
  // Every value given, in order.
  std::vector<std::string> all(std::string_view option) const;
};

using CommandLine = std::variant<ParsedArguments, HelpRequest, VersionRequest, CommandLineError>;

// Parses the arguments after element 0 by `spec`. The first element that
// decides an outcome ends the parse; later ones are not looked at.
CommandLine parse_command_line(const CommandSpec& spec, std::span<const std::string> arguments);

// The program name for usage lines: the last path component of element 0
// when that is UTF-8, else the command name.
std::string usage_name(std::span<const std::string> argv);

// The outputs, as lines each ending in a line feed.
std::vector<std::string> help_lines(const CommandSpec& spec, std::string_view name,
                                    const Stylesheet& styles);
std::string version_line();
std::vector<std::string> error_lines(const CommandSpec& spec, const CommandLineError& error,
                                     std::string_view name, const Stylesheet& styles);

// "error: {message}" alone, for errors found after the parse (a bad
// configuration file).
std::vector<std::string> message_error_lines(std::string_view message, const Stylesheet& styles);

// Whether a command-line output to `fd` is styled (NO_COLOR, CLICOLOR_FORCE,
// CLICOLOR, the terminal test, TERM, CI, in that order).
bool style_command_output(int fd);
// The preset that decision selects.
const Stylesheet& command_output_styles(int fd);

}  // namespace keyhound
