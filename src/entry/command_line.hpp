#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "analysis/stylesheet.hpp"

namespace keyhound {

inline constexpr std::string_view kCommandName = "keyhound";
inline constexpr std::string_view kVersion = "0.1.3";

struct HelpRequest {};
struct VersionRequest {};

// A command-line error, kept in parts so that it can be written plain or
// styled.
struct CommandLineError {
  enum class Kind {
    UnknownArgument,   // `subject` is the offending element (--foo, -x)
    UnexpectedValue,   // `subject` is the value, `flag` the option given it
    InvalidUtf8,
    MissingFiles,
  };
  Kind kind;
  std::string subject;
  // The flag that the usage line names: the suggestion for an unknown long
  // option, or --help/--version given a value.
  std::optional<std::string> flag;
};

struct FileList {
  std::vector<std::string> files;
};

using CommandLine = std::variant<FileList, HelpRequest, VersionRequest, CommandLineError>;

// Parses the arguments after element 0. The first element that decides an
// outcome ends the parse; later ones are not looked at.
CommandLine parse_command_line(std::span<const std::string> arguments);

// The program name for usage lines: the last path component of element 0
// when that is UTF-8, else the command name.
std::string usage_name(std::span<const std::string> argv);

// The outputs, as lines each ending in a line feed.
std::vector<std::string> help_lines(std::string_view name, const Stylesheet& styles);
std::string version_line();
std::vector<std::string> error_lines(const CommandLineError& error, std::string_view name,
                                     const Stylesheet& styles);

// Whether a command-line output to `fd` is styled (NO_COLOR, CLICOLOR_FORCE,
// CLICOLOR, the terminal test, TERM, CI, in that order).
bool style_command_output(int fd);
// The preset that decision selects.
const Stylesheet& command_output_styles(int fd);

}  // namespace keyhound
