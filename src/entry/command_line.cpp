#include "entry/command_line.hpp"

#include <unistd.h>

#include "entry/jaro.hpp"
#include "analysis/environment.hpp"
#include "syntax/utf8.hpp"

namespace keyhound {
namespace {

// Concatenation by append: g++ 12 warns falsely (-Wrestrict) on operator+.
std::string joined(std::string_view a, std::string_view b) {
  std::string text;
  text.reserve(a.size() + b.size());
  text += a;
  text += b;
  return text;
}

// Builds one output line from plain and styled spans.
class LineBuilder {
 public:
  explicit LineBuilder(const Stylesheet& styles) : styles_(styles) {}

  LineBuilder& plain(std::string_view text) {
    text_ += text;
    return *this;
  }
  LineBuilder& span(std::string_view text, const Role Stylesheet::*role) {
    append_styled(text_, text, styles_.*role);
    return *this;
  }
  LineBuilder& literal(std::string_view text) { return span(text, &Stylesheet::literal); }
  LineBuilder& heading(std::string_view text) { return span(text, &Stylesheet::heading); }
  LineBuilder& valid(std::string_view text) { return span(text, &Stylesheet::valid); }
  LineBuilder& invalid(std::string_view text) { return span(text, &Stylesheet::invalid); }

  std::string line() {
    text_ += '\n';
    return std::move(text_);
  }

 private:
  const Stylesheet& styles_;
  std::string text_;
};

// Takes the short flags of a group such as -hV one character at a time.
CommandLine parse_short_group(std::string_view group) {
  std::size_t i = 1;
  while (i < group.size()) {
    auto lead = static_cast<unsigned char>(group[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (i + length > group.size() || !is_valid_utf8(group.substr(i, length))) {
      return CommandLineError{CommandLineError::Kind::InvalidUtf8, {}, {}};
    }
    std::string_view flag = group.substr(i, length);
    if (flag == "h") return HelpRequest{};
    if (flag == "V") return VersionRequest{};
    return CommandLineError{CommandLineError::Kind::UnknownArgument,
                            joined("-", flag), {}};
  }
  return CommandLineError{CommandLineError::Kind::UnknownArgument, "-", {}};
}

CommandLine parse_long_option(std::string_view element) {
  std::string_view body = element.substr(2);
  std::size_t equals = body.find('=');
  std::string_view flag = body.substr(0, equals);
  if (!is_valid_utf8(element)) return CommandLineError{CommandLineError::Kind::InvalidUtf8, {}, {}};
  if (flag == "help" || flag == "version") {
    std::string option = joined("--", flag);
    if (equals == std::string_view::npos) {
      if (flag == "help") return HelpRequest{};
      return VersionRequest{};
    }
    return CommandLineError{CommandLineError::Kind::UnexpectedValue,
                            std::string(body.substr(equals + 1)), option};
  }
  CommandLineError error{CommandLineError::Kind::UnknownArgument, joined("--", flag), {}};
  double to_help = jaro_similarity(flag, "help");
  double to_version = jaro_similarity(flag, "version");
  double best = std::max(to_help, to_version);
  if (best > 0.7) error.flag = to_version > to_help ? "--version" : "--help";
  return error;
}

}  // namespace

CommandLine parse_command_line(std::span<const std::string> arguments) {
  FileList list;
  bool options_end = false;
  for (const std::string& element : arguments) {
    std::string_view text = element;
    if (!options_end && text == "--") {
      options_end = true;
      continue;
    }
    if (!options_end && text.starts_with("--")) return parse_long_option(text);
    if (!options_end && text.size() > 1 && text[0] == '-') return parse_short_group(text);
    if (!is_valid_utf8(text)) return CommandLineError{CommandLineError::Kind::InvalidUtf8, {}, {}};
    list.files.push_back(element);
  }
  if (list.files.empty()) return CommandLineError{CommandLineError::Kind::MissingFiles, {}, {}};
  return list;
}

std::string usage_name(std::span<const std::string> argv) {
  if (argv.empty()) return std::string(kCommandName);
  std::string_view path = argv[0];
  // Trailing slashes do not end the name (as in "dir/"); "." and ".." name
  // no file.
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  std::size_t slash = path.rfind('/');
  std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (last.empty() || last == "." || last == ".." || !is_valid_utf8(last)) {
    return std::string(kCommandName);
  }
  return std::string(last);
}

std::vector<std::string> help_lines(std::string_view name, const Stylesheet& styles) {
  std::vector<std::string> lines;
  lines.push_back("Keyhound is a Python code linter written in C++\n");
  lines.push_back("\n");
  lines.push_back(LineBuilder(styles).heading("Usage:").plain(" ").literal(name).plain(" <files>...").line());
  lines.push_back("\n");
  lines.push_back(LineBuilder(styles).heading("Arguments:").line());
  lines.push_back("  <files>...  Python files to analyze\n");
  lines.push_back("\n");
  lines.push_back(LineBuilder(styles).heading("Options:").line());
  lines.push_back(LineBuilder(styles).plain("  ").literal("-h").plain(", ").literal("--help")
                      .plain("     Print help").line());
  lines.push_back(LineBuilder(styles).plain("  ").literal("-V").plain(", ").literal("--version")
                      .plain("  Print version").line());
  return lines;
}

std::string version_line() {
  return std::string(kCommandName) + " " + std::string(kVersion) + "\n";
}

std::vector<std::string> error_lines(const CommandLineError& error, std::string_view name,
                                     const Stylesheet& styles) {
  using Kind = CommandLineError::Kind;
  std::vector<std::string> lines;
  LineBuilder first(styles);
  first.span("error:", &Stylesheet::error).plain(" ");
  switch (error.kind) {
    case Kind::UnknownArgument:
      first.plain("unexpected argument '").invalid(error.subject).plain("' found");
      break;
    case Kind::UnexpectedValue:
      first.plain("unexpected value '").plain(error.subject).plain("' for '")
          .plain(*error.flag).plain("' found; no more were expected");
      break;
    case Kind::InvalidUtf8:
      first.plain("invalid UTF-8 was detected in one or more arguments");
      break;
    case Kind::MissingFiles:
      first.plain("the following required arguments were not provided:");
      break;
  }
  lines.push_back(first.line());
  if (error.kind == Kind::MissingFiles) {
    lines.push_back(LineBuilder(styles).plain("  ").valid("<files>...").line());
  }

  if (error.kind == Kind::UnknownArgument) {
    lines.push_back("\n");
    LineBuilder tip(styles);
    tip.plain("  ").valid("tip:").plain(" ");
    if (error.flag) {
      tip.plain("a similar argument exists: '").valid(*error.flag).plain("'");
    } else {
      tip.plain("to pass '").invalid(error.subject).plain("' as a value, use '")
          .valid(joined("-- ", error.subject)).plain("'");
    }
    lines.push_back(tip.line());
  }

  lines.push_back("\n");
  LineBuilder usage(styles);
  usage.heading("Usage:").plain(" ").literal(name).plain(" ");
  if (error.flag) usage.plain(*error.flag).plain(" ");
  usage.plain("<files>...");
  lines.push_back(usage.line());
  lines.push_back("\n");
  lines.push_back(LineBuilder(styles).plain("For more information, try '").literal("--help")
                      .plain("'.").line());
  return lines;
}

const Stylesheet& command_output_styles(int fd) {
  return style_command_output(fd) ? Stylesheet::styled() : Stylesheet::plain();
}

bool style_command_output(int fd) {
  auto no_color = environment_value("NO_COLOR");
  if (no_color && !no_color->empty()) return false;
  auto force = environment_value("CLICOLOR_FORCE");
  if (force && !force->empty()) return true;
  auto clicolor = environment_value("CLICOLOR");
  if (clicolor && *clicolor == "0") return false;
  if (isatty(fd) != 1) return false;
  auto term = environment_value("TERM");
  if (term && *term != "dumb") return true;
  if (clicolor) return true;
  if (environment_value("CI")) return true;
  return false;
}

}  // namespace keyhound
