#include "cli/command_line.hpp"

#include <unistd.h>

#include <algorithm>

#include "cli/jaro.hpp"
#include "base/environment.hpp"
#include "output/terminal_text.hpp"
#include "base/utf8.hpp"

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

constexpr OptionSpec kHelpOption{"help", 'h', "", "Print help"};
constexpr OptionSpec kVersionOption{"version", 'V', "", "Print version"};

// The table's options, then help and version.
std::vector<const OptionSpec*> all_options(const CommandSpec& spec) {
  std::vector<const OptionSpec*> options;
  for (const OptionSpec& option : spec.options) options.push_back(&option);
  options.push_back(&kHelpOption);
  options.push_back(&kVersionOption);
  return options;
}

const OptionSpec* find_long(const CommandSpec& spec, std::string_view name) {
  for (const OptionSpec* option : all_options(spec)) {
    if (option->long_name == name) return option;
  }
  return nullptr;
}

const OptionSpec* find_short(const CommandSpec& spec, std::string_view letter) {
  for (const OptionSpec* option : all_options(spec)) {
    if (option->short_name != '\0' && letter.size() == 1 && letter[0] == option->short_name) {
      return option;
    }
  }
  return nullptr;
}

// The long option most like `flag`, when one is like it at all.
std::optional<std::string> similar_option(const CommandSpec& spec, std::string_view flag) {
  double best = 0.7;
  std::optional<std::string> suggestion;
  for (const OptionSpec* option : all_options(spec)) {
    double similarity = jaro_similarity(flag, option->long_name);
    if (similarity > best) {
      best = similarity;
      suggestion = joined("--", option->long_name);
    }
  }
  return suggestion;
}

// An element that reads as an option rather than a value.
bool looks_like_option(std::string_view element) {
  return element.size() > 1 && element[0] == '-';
}

class Parser {
 public:
  Parser(const CommandSpec& spec, std::span<const std::string> arguments)
      : spec_(spec), arguments_(arguments) {}

  CommandLine run() {
    bool options_end = false;
    for (next_ = 0; next_ < arguments_.size();) {
      std::string_view text = arguments_[next_++];
      std::optional<CommandLine> decided;
      if (!options_end && text == "--") {
        options_end = true;
        continue;
      }
      if (!options_end && text.starts_with("--")) {
        decided = long_option(text);
      } else if (!options_end && looks_like_option(text)) {
        decided = short_group(text);
      } else if (!is_valid_utf8(text)) {
        decided = CommandLineError{CommandLineError::Kind::InvalidUtf8, {}, {}, {}};
      } else {
        parsed_.positionals.emplace_back(text);
      }
      if (decided) return std::move(*decided);
    }
    if (parsed_.positionals.empty() && !spec_.positional_optional && !stands_alone_option_given()) {
      return CommandLineError{CommandLineError::Kind::MissingFiles, {}, {}, {}};
    }
    return std::move(parsed_);
  }

 private:
  using Kind = CommandLineError::Kind;

  bool stands_alone_option_given() const {
    return std::any_of(spec_.options.begin(), spec_.options.end(), [&](const OptionSpec& option) {
      return option.stands_alone && parsed_.has(option.long_name);
    });
  }

  std::optional<CommandLine> long_option(std::string_view element) {
    std::string_view body = element.substr(2);
    std::size_t equals = body.find('=');
    std::string_view name = body.substr(0, equals);
    if (!is_valid_utf8(element)) return CommandLineError{Kind::InvalidUtf8, {}, {}, {}};
    const OptionSpec* option = find_long(spec_, name);
    if (option == nullptr) {
      return CommandLineError{Kind::UnknownArgument, joined("--", name), similar_option(spec_, name),
                              {}};
    }
    std::optional<std::string_view> inline_value;
    if (equals != std::string_view::npos) inline_value = body.substr(equals + 1);
    return take(*option, inline_value);
  }

  std::optional<CommandLine> short_group(std::string_view group) {
    std::size_t i = 1;
    while (i < group.size()) {
      std::size_t length = valid_utf8_sequence_at(group, i);
      if (length == 0) return CommandLineError{Kind::InvalidUtf8, {}, {}, {}};
      std::string_view letter = group.substr(i, length);
      i += length;
      const OptionSpec* option = find_short(spec_, letter);
      if (option == nullptr) {
        return CommandLineError{Kind::UnknownArgument, joined("-", letter), {}, {}};
      }
      if (!option->value_name.empty()) {
        // The rest of the group is the value (-j4), else the next element.
        std::optional<std::string_view> inline_value;
        if (i < group.size()) inline_value = group.substr(i);
        return take(*option, inline_value);
      }
      if (auto decided = take(*option, std::nullopt)) return decided;
    }
    return std::nullopt;
  }

  // Records one use of `option`; an outcome when that decides the parse.
  std::optional<CommandLine> take(const OptionSpec& option,
                                  std::optional<std::string_view> inline_value) {
    std::string flag = joined("--", option.long_name);
    if (option.value_name.empty()) {
      if (inline_value) {
        return CommandLineError{Kind::UnexpectedValue, std::string(*inline_value), flag, {}};
      }
      if (&option == &kHelpOption) return HelpRequest{};
      if (&option == &kVersionOption) return VersionRequest{};
      parsed_.values[std::string(option.long_name)].emplace_back();
      return std::nullopt;
    }
    std::string_view value;
    if (inline_value) {
      value = *inline_value;
    } else if (next_ < arguments_.size() && !looks_like_option(arguments_[next_])) {
      value = arguments_[next_++];
    } else {
      return CommandLineError{Kind::MissingValue, {}, flag, {}};
    }
    if (!is_valid_utf8(value)) return CommandLineError{Kind::InvalidUtf8, {}, {}, {}};
    parsed_.values[std::string(option.long_name)].emplace_back(value);
    return std::nullopt;
  }

  const CommandSpec& spec_;
  std::span<const std::string> arguments_;
  std::size_t next_ = 0;
  ParsedArguments parsed_;
};

// "-j, --jobs <N>" or "    --exclude <PATTERN>", the flags styled.
struct OptionColumn {
  std::size_t width;
  std::string text;
};

OptionColumn option_column(const OptionSpec& option, const Stylesheet& styles) {
  LineBuilder column(styles);
  std::size_t width = 0;
  if (option.short_name != '\0') {
    column.literal(std::string{'-', option.short_name}).plain(", ");
  } else {
    column.plain("    ");
  }
  width += 4;
  std::string flag = joined("--", option.long_name);
  column.literal(flag);
  width += flag.size();
  if (!option.value_name.empty()) {
    column.plain(" ").plain(option.value_name);
    width += 1 + option.value_name.size();
  }
  std::string text = column.line();
  text.pop_back();
  return {width, std::move(text)};
}

// The flag and its value's name, as the usage line of an error shows it.
std::string usage_flag(const CommandSpec& spec, std::string_view flag) {
  std::string text(flag);
  if (flag.starts_with("--")) {
    const OptionSpec* option = find_long(spec, flag.substr(2));
    if (option != nullptr && !option->value_name.empty()) {
      text += ' ';
      text += option->value_name;
    }
  }
  return text;
}

void append_usage(LineBuilder& usage, const CommandSpec& spec, std::string_view name,
                  std::optional<std::string_view> flag) {
  usage.heading("Usage:").plain(" ").literal(terminal_safe_name(name)).plain(" ");
  if (flag) usage.plain(terminal_safe_name(usage_flag(spec, *flag))).plain(" ");
  if (!spec.options.empty()) usage.plain("[OPTIONS] ");
  usage.plain(spec.positional);
}

}  // namespace

std::optional<std::string> ParsedArguments::last(std::string_view option) const {
  auto found = values.find(option);
  if (found == values.end() || found->second.empty()) return std::nullopt;
  return found->second.back();
}

std::vector<std::string> ParsedArguments::all(std::string_view option) const {
  auto found = values.find(option);
  if (found == values.end()) return {};
  return found->second;
}

CommandLine parse_command_line(const CommandSpec& spec, std::span<const std::string> arguments) {
  return Parser(spec, arguments).run();
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

std::vector<std::string> help_lines(const CommandSpec& spec, std::string_view name,
                                    const Stylesheet& styles) {
  std::vector<std::string> lines;
  lines.push_back(joined(spec.about, "\n"));
  lines.push_back("\n");
  LineBuilder usage(styles);
  append_usage(usage, spec, name, std::nullopt);
  lines.push_back(usage.line());
  if (!spec.subcommands.empty()) {
    // Each command's own usage, under the first, then what each does.
    const std::string indent(std::string_view("Usage: ").size(), ' ');
    std::size_t widest = 0;
    for (const SubcommandSpec& command : spec.subcommands) {
      lines.push_back(LineBuilder(styles).plain(indent).literal(terminal_safe_name(name))
                          .plain(" ").literal(command.name).plain(command.usage.empty() ? "" : " ")
                          .plain(command.usage).line());
      widest = std::max(widest, command.name.size());
    }
    lines.push_back("\n");
    lines.push_back(LineBuilder(styles).heading("Commands:").line());
    for (const SubcommandSpec& command : spec.subcommands) {
      lines.push_back(LineBuilder(styles).plain("  ").literal(command.name)
                          .plain(std::string(widest - command.name.size() + 2, ' '))
                          .plain(command.help).line());
    }
  }
  lines.push_back("\n");
  lines.push_back(LineBuilder(styles).heading("Arguments:").line());
  lines.push_back(LineBuilder(styles).plain("  ").plain(spec.positional).plain("  ")
                      .plain(spec.positional_help).line());
  lines.push_back("\n");
  lines.push_back(LineBuilder(styles).heading("Options:").line());
  std::vector<std::pair<OptionColumn, std::string_view>> rows;
  std::size_t widest = 0;
  for (const OptionSpec* option : all_options(spec)) {
    rows.emplace_back(option_column(*option, styles), option->help);
    widest = std::max(widest, rows.back().first.width);
  }
  for (const auto& [column, help] : rows) {
    std::string padding(widest - column.width + 2, ' ');
    lines.push_back(LineBuilder(styles).plain("  ").plain(column.text).plain(padding)
                        .plain(help).line());
  }
  return lines;
}

std::string version_line() {
  return std::string(kCommandName) + " " + std::string(kVersion) + "\n";
}

std::vector<std::string> error_lines(const CommandSpec& spec, const CommandLineError& error,
                                     std::string_view name, const Stylesheet& styles) {
  using Kind = CommandLineError::Kind;
  // The offending element is the user's text: it reaches the terminal
  // with its control characters shown, never acted on.
  const std::string subject = terminal_safe_name(error.subject);
  std::vector<std::string> lines;
  LineBuilder first(styles);
  first.span("error:", &Stylesheet::error).plain(" ");
  switch (error.kind) {
    case Kind::UnknownArgument:
      first.plain("unexpected argument '").invalid(subject).plain("' found");
      break;
    case Kind::UnexpectedValue:
      first.plain("unexpected value '").plain(subject).plain("' for '")
          .plain(*error.flag).plain("' found; no more were expected");
      break;
    case Kind::MissingValue:
      first.plain("a value is required for '").plain(usage_flag(spec, *error.flag))
          .plain("' but none was supplied");
      break;
    case Kind::InvalidValue:
      first.plain("invalid value '").invalid(subject).plain("' for '")
          .plain(usage_flag(spec, *error.flag)).plain("': ").plain(error.reason);
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
    lines.push_back(LineBuilder(styles).plain("  ").valid(spec.positional).line());
  }

  if (error.kind == Kind::UnknownArgument) {
    lines.push_back("\n");
    LineBuilder tip(styles);
    tip.plain("  ").valid("tip:").plain(" ");
    if (error.flag) {
      tip.plain("a similar argument exists: '").valid(*error.flag).plain("'");
    } else {
      tip.plain("to pass '").invalid(subject).plain("' as a value, use '")
          .valid(joined("-- ", subject)).plain("'");
    }
    lines.push_back(tip.line());
  }

  lines.push_back("\n");
  LineBuilder usage(styles);
  std::optional<std::string_view> flag;
  if (error.flag) flag = *error.flag;
  append_usage(usage, spec, name, flag);
  lines.push_back(usage.line());
  lines.push_back("\n");
  lines.push_back(LineBuilder(styles).plain("For more information, try '").literal("--help")
                      .plain("'.").line());
  return lines;
}

std::vector<std::string> message_error_lines(std::string_view message, const Stylesheet& styles) {
  return {LineBuilder(styles).span("error:", &Stylesheet::error).plain(" ")
              .plain(terminal_safe_name(message)).line()};
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

const Stylesheet& command_output_styles(int fd) {
  return style_command_output(fd) ? Stylesheet::styled() : Stylesheet::plain();
}


}  // namespace keyhound
