#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/caret_renderer.hpp"
#include "syntax/source_lines.hpp"

namespace keyhound {
namespace {

struct Rendered {
  std::string out;
  std::string err;
};

Rendered rendered(const MemoryWriter& writer) {
  return Rendered{writer.text(Stream::Stdout), writer.text(Stream::Stderr)};
}

// The excerpt line of `row` as the pass takes it from the file's text.
std::string line_of(std::string_view text, uint32_t row) {
  return std::string(line_at(source_lines(text), row));
}

Rendered access_warning(std::string_view path, std::string_view function, Position start,
                        Position end, std::string_view text, bool colorize = false) {
  MemoryWriter writer;
  print_access_warning(writer, colorize ? Stylesheet::styled() : Stylesheet::plain(), path,
                       AccessFinding{std::string(function), start, end, make_source_line(line_of(text, start.row)), {}});
  return rendered(writer);
}

// Rows 0 to 10 of a file whose row 11 is the worked example's line.
std::string app_py() {
  std::string text;
  for (int row = 0; row < 11; ++row) text += "# filler\n";
  text += "    port = cfg['port']\n";
  return text;
}

TEST(AccessWarningTest, WorkedExampleWithoutColour) {
  Rendered rendered = access_warning("app.py", "load", {11, 11}, {11, 22}, app_py());
  EXPECT_EQ(rendered.out,
            "app.py:12:12: Warning: Possible KeyError in function 'load'\n"
            "12|\n"
            "  |     port = cfg['port']\n"
            "  |            ^^^^^^^^^^^\n"
            "\n");
  EXPECT_EQ(rendered.err, "");
}

TEST(AccessWarningTest, WorkedExampleWithColour) {
  Rendered rendered = access_warning("app.py", "load", {11, 11}, {11, 22}, app_py(), true);
  EXPECT_EQ(rendered.out,
            "app.py:12:12: \x1b[1;33mWarning:\x1b[0m Possible KeyError in function 'load'\n"
            "\x1b[34m12\x1b[0m|\n"
            "\x1b[34m  \x1b[0m|     port = cfg['port']\n"
            "\x1b[34m  \x1b[0m| \x1b[91m           ^^^^^^^^^^^\x1b[0m\n"
            "\n");
}

TEST(AccessWarningTest, HeaderIsOneBasedLineAndByteColumn) {
  Rendered rendered = access_warning("t.py", "f", {2, 4}, {2, 8}, "a\nb\n    d[k]\n");
  EXPECT_EQ(rendered.out.substr(0, rendered.out.find('\n') + 1),
            "t.py:3:5: Warning: Possible KeyError in function 'f'\n");
}

struct SnippetCase {
  const char* label;
  std::string text;
  Position start;
  Position end;
  std::string expected;
};

class SnippetTest : public ::testing::TestWithParam<SnippetCase> {};

TEST_P(SnippetTest, ExactLines) {
  const SnippetCase& c = GetParam();
  MemoryWriter writer;
  print_source_snippet(writer, Stylesheet::plain(), c.start, c.end, line_of(c.text, c.start.row));
  EXPECT_EQ(writer.text(Stream::Stdout), c.expected);
  EXPECT_EQ(writer.text(Stream::Stderr), "");
}

std::string rows(int count, const std::string& last) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "x\n";
  return text + last + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SnippetTest,
    ::testing::Values(
        SnippetCase{"line_9", rows(8, "d[k]"), {8, 0}, {8, 4}, "9|\n | d[k]\n | ^^^^\n\n"},
        SnippetCase{"line_10", rows(9, "d[k]"), {9, 0}, {9, 4},
                    "10|\n  | d[k]\n  | ^^^^\n\n"},
        SnippetCase{"line_100", rows(99, "d[k]"), {99, 0}, {99, 4},
                    "100|\n   | d[k]\n   | ^^^^\n\n"},
        SnippetCase{"column_0", "d[k]\n", {0, 0}, {0, 4}, "1|\n | d[k]\n | ^^^^\n\n"},
        SnippetCase{"tab_before", "\td[k]\n", {0, 1}, {0, 5}, "1|\n | \td[k]\n |  ^^^^\n\n"},
        SnippetCase{"two_byte_character", "\xc3\xa9=d[k]\n", {0, 3}, {0, 7},
                    "1|\n | \xc3\xa9=d[k]\n |    ^^^^\n\n"},
        SnippetCase{"crlf", "a = 1\r\nb = d[k]\r\n", {1, 4}, {1, 8},
                    "2|\n | b = d[k]\n |     ^^^^\n\n"},
        SnippetCase{"three_rows_greater_end", "x = d[\n    k\n      ]\n", {0, 4}, {2, 7},
                    "1|\n | x = d[\n |     ^^^\n\n"},
        SnippetCase{"three_rows_equal_end", "x = d[\n    k\n    ]\n", {0, 4}, {2, 4},
                    "1|\n | x = d[\n |     ^\n\n"},
        SnippetCase{"three_rows_smaller_end", "x = d[\n  k\n]\n", {0, 4}, {2, 1},
                    "1|\n | x = d[\n |     ^\n\n"},
        SnippetCase{"row_beyond_last_line", "d[k]\n", {5, 2}, {5, 3}, "6|\n | \n |   ^\n\n"},
        SnippetCase{"control_bytes_as_pictures", "x = \x1b[2Jd[\rk]\x7f\n", {0, 8}, {0, 13},
                    "1|\n | x = \xe2\x90\x9b[2Jd[\xe2\x90\x8dk]\xe2\x90\xa1\n |         ^^^^^\n\n"},
        SnippetCase{"nul_and_backspace", std::string("a\0b\bc\n", 6), {0, 0}, {0, 1},
                    "1|\n | a\xe2\x90\x80" "b\xe2\x90\x88" "c\n | ^\n\n"}),
    [](const ::testing::TestParamInfo<SnippetCase>& info) { return info.param.label; });

TEST(CallWarningTest, HeaderNamesCalleeAndCaller) {
  MemoryWriter writer;
  print_call_warning(writer, Stylesheet::plain(), "m.py",
                     CallFinding{"f", "g", {"KeyError"}, {1, 4}, {1, 11}, make_source_line("    g(1, 2)"), {}, {}});
  EXPECT_EQ(writer.text(Stream::Stdout),
            "m.py:2:5: Warning: Possible KeyError not handled when calling 'g' in function 'f'\n"
            "2|\n"
            " |     g(1, 2)\n"
            " |     ^^^^^^^\n"
            "\n");
}

TEST(FunctionSummaryTest, GoesToStandardErrorUncoloured) {
  MemoryWriter writer;
  print_function_summary(writer, "<module>");
  EXPECT_EQ(writer.text(Stream::Stderr),
            "Potential issue(s) in function '<module>': Warnings found in '<module>'\n");
  EXPECT_EQ(writer.text(Stream::Stdout), "");
  EXPECT_EQ(file_issues_message("./src/a.py"), "Potential issue(s) found in './src/a.py'");
  EXPECT_EQ(function_warnings_message("<module>"), "Warnings found in '<module>'");
}

TEST(CallWarningTest, ExceptionNamesJoinedWithComma) {
  MemoryWriter writer;
  print_call_warning(writer, Stylesheet::plain(), "m.py",
                     CallFinding{"f", "g", {"KeyError", "IndexError"}, {0, 0}, {0, 3}, make_source_line("g()"), {}, {}});
  EXPECT_EQ(writer.lines().front().second,
            "m.py:1:1: Warning: Possible KeyError, IndexError not handled when calling 'g' in "
            "function 'f'\n");
}

// A whole report: findings in their order, on their streams, then the
// file's outcome line.
TEST(CaretRendererTest, RendersFindingsThenOutcomeOnTheirStreams) {
  FileReport report{
      .path = "a.py",
      .findings = {AccessFinding{"h", {1, 11}, {1, 17}, make_source_line("    return d['k']"), {}},
                   FunctionSummary{"h"},
                   CallFinding{"<module>", "h", {"KeyError"}, {2, 0}, {2, 3}, make_source_line("h()"), {}, {}},
                   FunctionSummary{"<module>"}},
      .outcome = {FileStatus::HasFindings, file_issues_message("a.py")}};
  MemoryWriter writer;
  CaretRenderer(Stylesheet::plain()).render(report, writer);
  std::vector<std::pair<Stream, std::string>> expected = {
      {Stream::Stdout, "a.py:2:12: Warning: Possible KeyError in function 'h'\n"},
      {Stream::Stdout, "2|\n"},
      {Stream::Stdout, " |     return d['k']\n"},
      {Stream::Stdout, " |            ^^^^^^\n"},
      {Stream::Stdout, "\n"},
      {Stream::Stderr, "Potential issue(s) in function 'h': Warnings found in 'h'\n"},
      {Stream::Stdout,
       "a.py:3:1: Warning: Possible KeyError not handled when calling 'h' in function "
       "'<module>'\n"},
      {Stream::Stdout, "3|\n"},
      {Stream::Stdout, " | h()\n"},
      {Stream::Stdout, " | ^^^\n"},
      {Stream::Stdout, "\n"},
      {Stream::Stderr,
       "Potential issue(s) in function '<module>': Warnings found in '<module>'\n"},
      {Stream::Stderr, "Analyzing file 'a.py': Potential issue(s) found in 'a.py'\n"},
  };
  EXPECT_EQ(writer.lines(), expected);
}

struct OutcomeCase {
  const char* label;
  FileStatus status;
  const char* message;
  Stream stream;
  std::string line;
};

class OutcomeLineTest : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(OutcomeLineTest, ExactLineOnItsStream) {
  MemoryWriter writer;
  print_file_outcome(writer, "./x.py", FileOutcome{GetParam().status, GetParam().message});
  ASSERT_EQ(writer.lines().size(), 1u);
  EXPECT_EQ(writer.lines()[0].first, GetParam().stream);
  EXPECT_EQ(writer.lines()[0].second, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutcomeLineTest,
    ::testing::Values(
        OutcomeCase{"clean", FileStatus::Clean, "", Stream::Stdout,
                    "No issues found in './x.py'\n"},
        OutcomeCase{"findings", FileStatus::HasFindings, "Potential issue(s) found in './x.py'",
                    Stream::Stderr,
                    "Analyzing file './x.py': Potential issue(s) found in './x.py'\n"},
        OutcomeCase{"read_error", FileStatus::ReadError, "Is a directory (os error 21)",
                    Stream::Stderr, "Error reading file './x.py': Is a directory (os error 21)\n"}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return info.param.label; });

TEST(SourceLinesTest, SplitsOnLineFeedsOnly) {
  using Lines = std::vector<std::string_view>;
  EXPECT_EQ(source_lines(""), Lines{});
  EXPECT_EQ(source_lines("a\n"), Lines{"a"});
  EXPECT_EQ(source_lines("a\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(source_lines("a\r\n\r\nb\r"), (Lines{"a", "", "b\r"}));
  EXPECT_EQ(source_lines("a\rb\n"), Lines{"a\rb"});
  EXPECT_EQ(source_lines("\n\n"), (Lines{"", ""}));
  EXPECT_EQ(line_at(source_lines("a\n"), 3), "");
}

}  // namespace
}  // namespace keyhound
