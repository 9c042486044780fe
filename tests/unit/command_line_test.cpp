#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.hpp"
#include "cli/jaro.hpp"
#include "test_support.hpp"

namespace keyhound {
namespace {

// What a parse decided, as one comparable text.
std::string outcome(std::vector<std::string> arguments) {
  CommandLine parsed = parse_command_line(module_command(), arguments);
  if (std::holds_alternative<HelpRequest>(parsed)) return "help";
  if (std::holds_alternative<VersionRequest>(parsed)) return "version";
  if (const auto* list = std::get_if<ParsedArguments>(&parsed)) {
    std::string text = "files:";
    for (const std::string& file : list->positionals) text += " " + file;
    return text;
  }
  const auto& error = std::get<CommandLineError>(parsed);
  std::string text;
  for (const std::string& line : error_lines(module_command(), error, "kh", Stylesheet::plain())) text += line;
  return text.substr(0, text.find('\n'));
}

struct ParseCase {
  std::vector<std::string> arguments;
  std::string expected;
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, FirstDecidingElementEndsTheParse) {
  EXPECT_EQ(outcome(GetParam().arguments), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, ParseTest,
    ::testing::Values(
        ParseCase{{}, "error: the following required arguments were not provided:"},
        ParseCase{{"a.py", "--help"}, "help"},
        ParseCase{{"--foo", "--help"}, "error: unexpected argument '--foo' found"},
        ParseCase{{"--help=x"}, "error: unexpected value 'x' for '--help' found; no more were expected"},
        ParseCase{{"--version="}, "error: unexpected value '' for '--version' found; no more were expected"},
        ParseCase{{"--foo=bar"}, "error: unexpected argument '--foo' found"},
        ParseCase{{"-hV"}, "help"},
        ParseCase{{"-Vh"}, "version"},
        ParseCase{{"-xh"}, "error: unexpected argument '-x' found"},
        ParseCase{{"-5"}, "error: unexpected argument '-5' found"},
        ParseCase{{"--", "-x.py", "--", "--help"}, "files: -x.py -- --help"},
        ParseCase{{"-"}, "files: -"},
        ParseCase{{"help", "a.py", "a.py"}, "files: help a.py a.py"},
        ParseCase{{"a.py", "\xff.py", "--help"},
                  "error: invalid UTF-8 was detected in one or more arguments"},
        ParseCase{{"--", "\xc0\xaf"}, "error: invalid UTF-8 was detected in one or more arguments"}),
    [](const ::testing::TestParamInfo<ParseCase>& info) {
      std::string arguments;
      for (const std::string& argument : info.param.arguments) arguments += argument + " ";
      return testing::case_name(info.index, arguments);
    });

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

std::string error_report(std::vector<std::string> arguments, bool styled = false) {
  return joined(error_lines(module_command(),
                            std::get<CommandLineError>(parse_command_line(module_command(), arguments)),
                            "python3", styled ? Stylesheet::styled() : Stylesheet::plain()));
}

TEST(ErrorReportTest, MissingArgument) {
  EXPECT_EQ(error_report({}),
            "error: the following required arguments were not provided:\n"
            "  <files>...\n"
            "\n"
            "Usage: python3 <files>...\n"
            "\n"
            "For more information, try '--help'.\n");
}

TEST(ErrorReportTest, SimilarFlagIsSuggestedAndNamedInTheUsageLine) {
  EXPECT_EQ(error_report({"--hel"}),
            "error: unexpected argument '--hel' found\n"
            "\n"
            "  tip: a similar argument exists: '--help'\n"
            "\n"
            "Usage: python3 --help <files>...\n"
            "\n"
            "For more information, try '--help'.\n");
  EXPECT_NE(error_report({"--vers"}).find("tip: a similar argument exists: '--version'\n\n"
                                          "Usage: python3 --version <files>...\n"),
            std::string::npos);
}

TEST(ErrorReportTest, UnknownFlagWithoutSuggestion) {
  EXPECT_EQ(error_report({"--foo=bar"}),
            "error: unexpected argument '--foo' found\n"
            "\n"
            "  tip: to pass '--foo' as a value, use '-- --foo'\n"
            "\n"
            "Usage: python3 <files>...\n"
            "\n"
            "For more information, try '--help'.\n");
}

TEST(ErrorReportTest, ValueForAFlagNamesTheFlagInTheUsageLine) {
  EXPECT_EQ(error_report({"--version=1"}),
            "error: unexpected value '1' for '--version' found; no more were expected\n"
            "\n"
            "Usage: python3 --version <files>...\n"
            "\n"
            "For more information, try '--help'.\n");
}

TEST(ErrorReportTest, StyledSpans) {
  EXPECT_EQ(error_report({"-x"}, true),
            "\x1b[1m\x1b[31merror:\x1b[0m unexpected argument '\x1b[33m-x\x1b[0m' found\n"
            "\n"
            "  \x1b[32mtip:\x1b[0m to pass '\x1b[33m-x\x1b[0m' as a value, use '\x1b[32m-- -x\x1b[0m'\n"
            "\n"
            "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mpython3\x1b[0m <files>...\n"
            "\n"
            "For more information, try '\x1b[1m--help\x1b[0m'.\n");
  EXPECT_TRUE(error_report({}, true).starts_with(
      "\x1b[1m\x1b[31merror:\x1b[0m the following required arguments were not provided:\n"
      "  \x1b[32m<files>...\x1b[0m\n"
      "\n"
      "\x1b[1m\x1b[4mUsage:\x1b[0m"));
}

TEST(HelpTextTest, PlainAndStyled) {
  EXPECT_EQ(joined(help_lines(module_command(), "keyhound", Stylesheet::plain())),
            "Keyhound is a Python code linter written in C++\n"
            "\n"
            "Usage: keyhound <files>...\n"
            "\n"
            "Arguments:\n"
            "  <files>...  Python files to analyze\n"
            "\n"
            "Options:\n"
            "  -h, --help     Print help\n"
            "  -V, --version  Print version\n");
  EXPECT_EQ(joined(help_lines(module_command(), "kh", Stylesheet::styled())),
            "Keyhound is a Python code linter written in C++\n"
            "\n"
            "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mkh\x1b[0m <files>...\n"
            "\n"
            "\x1b[1m\x1b[4mArguments:\x1b[0m\n"
            "  <files>...  Python files to analyze\n"
            "\n"
            "\x1b[1m\x1b[4mOptions:\x1b[0m\n"
            "  \x1b[1m-h\x1b[0m, \x1b[1m--help\x1b[0m     Print help\n"
            "  \x1b[1m-V\x1b[0m, \x1b[1m--version\x1b[0m  Print version\n");
  EXPECT_EQ(version_line(), "keyhound 0.1.3\n");
}

// The native command's table: options with values, flags, and the same
// error reporter.
std::string native_outcome(std::vector<std::string> arguments) {
  CommandLine parsed = parse_command_line(native_command(), arguments);
  if (std::holds_alternative<HelpRequest>(parsed)) return "help";
  if (const auto* list = std::get_if<ParsedArguments>(&parsed)) {
    std::string text = "paths:";
    for (const std::string& file : list->positionals) text += " " + file;
    for (const auto& [option, values] : list->values) {
      text += " " + option + "=";
      for (const std::string& value : values) text += "[" + value + "]";
    }
    return text;
  }
  return joined(error_lines(native_command(), std::get<CommandLineError>(parsed), "keyhound",
                            Stylesheet::plain()));
}

struct NativeCase {
  std::vector<std::string> arguments;
  std::string expected;
};

class NativeParseTest : public ::testing::TestWithParam<NativeCase> {};

TEST_P(NativeParseTest, Outcome) { EXPECT_EQ(native_outcome(GetParam().arguments), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Elements, NativeParseTest,
    ::testing::Values(
        NativeCase{{"-j", "3", "src"}, "paths: src jobs=[3]"},
        NativeCase{{"-j3", "src"}, "paths: src jobs=[3]"},
        NativeCase{{"--jobs=3", "src"}, "paths: src jobs=[3]"},
        NativeCase{{"--exclude", "a,b", "--exclude=c", "x"}, "paths: x exclude=[a,b][c]"},
        NativeCase{{"--exit-zero", "-", "--force-exclude"}, "paths: - exit-zero=[] force-exclude=[]"},
        NativeCase{{"--stdin-filename", "-", "-"}, "paths: - stdin-filename=[-]"},
        NativeCase{{"--exit-zero=1", "x"},
                   "error: unexpected value '1' for '--exit-zero' found; no more were expected\n"
                   "\n"
                   "Usage: keyhound --exit-zero [OPTIONS] [PATHS]...\n"
                   "\n"
                   "For more information, try '--help'.\n"},
        NativeCase{{"x", "--jobs"},
                   "error: a value is required for '--jobs <N>' but none was supplied\n"
                   "\n"
                   "Usage: keyhound --jobs <N> [OPTIONS] [PATHS]...\n"
                   "\n"
                   "For more information, try '--help'.\n"},
        NativeCase{{"--jobs", "--exit-zero", "x"},
                   "error: a value is required for '--jobs <N>' but none was supplied\n"
                   "\n"
                   "Usage: keyhound --jobs <N> [OPTIONS] [PATHS]...\n"
                   "\n"
                   "For more information, try '--help'.\n"},
        NativeCase{{"--exlude", "x"},
                   "error: unexpected argument '--exlude' found\n"
                   "\n"
                   "  tip: a similar argument exists: '--exclude'\n"
                   "\n"
                   "Usage: keyhound --exclude <PATTERN> [OPTIONS] [PATHS]...\n"
                   "\n"
                   "For more information, try '--help'.\n"},
        NativeCase{{"-jh", "x"}, "paths: x jobs=[h]"},
        // No path: the parse leaves the paths to the options, which take ".".
        NativeCase{{}, "paths:"},
        NativeCase{{"--no-cache"}, "paths: no-cache=[]"}),
    [](const ::testing::TestParamInfo<NativeCase>& info) {
      std::string arguments;
      for (const std::string& argument : info.param.arguments) arguments += argument + " ";
      return testing::case_name(info.index, arguments);
    });

TEST(HelpTextTest, NativeOptionsArePaddedToTheLongestEntry) {
  std::vector<std::string> lines = help_lines(native_command(), "keyhound", Stylesheet::plain());
  // Every way to call it, the commands, then the arguments and options.
  EXPECT_EQ(lines[2], "Usage: keyhound [OPTIONS] [PATHS]...\n");
  EXPECT_EQ(lines[3], "       keyhound check [OPTIONS] [PATHS]...\n");
  EXPECT_EQ(lines[4], "       keyhound server\n");
  EXPECT_EQ(lines[6], "Commands:\n");
  EXPECT_TRUE(lines[8].starts_with("  server  Run as a language server")) << lines[8];
  // Padded to the longest entry, "    --per-file-ignores <GLOB:CODES>".
  EXPECT_EQ(lines[14], "  -j, --jobs <N>                       Files analysed at once [default: the "
                      "processors available]\n");
  EXPECT_EQ(lines[16], "      --extend-exclude <PATTERN>       Paths to skip in addition to the "
                       "default list\n");
  EXPECT_EQ(lines.back(), "  -V, --version                        Print version\n");
  std::vector<std::string> styled = help_lines(native_command(), "kh", Stylesheet::styled());
  EXPECT_EQ(styled[15], "      \x1b[1m--exclude\x1b[0m <PATTERN>              Paths to skip in "
                       "directories instead of the defaults (globs, comma-separated, "
                       "repeatable)\n");
}

TEST(UsageNameTest, LastPathComponentWhenUtf8) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(usage_name(Args{}), "keyhound");
  EXPECT_EQ(usage_name(Args{"/usr/bin/python3.11"}), "python3.11");
  EXPECT_EQ(usage_name(Args{"keyhound"}), "keyhound");
  EXPECT_EQ(usage_name(Args{"./bin/\xff"}), "keyhound");
  EXPECT_EQ(usage_name(Args{"tools/kh/"}), "kh");
}

TEST(JaroTest, KnownValues) {
  EXPECT_DOUBLE_EQ(jaro_similarity("help", "help"), 1.0);
  EXPECT_DOUBLE_EQ(jaro_similarity("", ""), 1.0);
  EXPECT_DOUBLE_EQ(jaro_similarity("abc", ""), 0.0);
  EXPECT_NEAR(jaro_similarity("hel", "help"), (1.0 + 0.75 + 1.0) / 3, 1e-12);
  EXPECT_NEAR(jaro_similarity("martha", "marhta"), 0.944444444444, 1e-9);
  EXPECT_NEAR(jaro_similarity("dixon", "dicksonx"), 0.766666666667, 1e-9);
  EXPECT_LT(jaro_similarity("foo", "help"), 0.7);
  EXPECT_LT(jaro_similarity("foo", "version"), 0.7);
}

}  // namespace
}  // namespace keyhound
