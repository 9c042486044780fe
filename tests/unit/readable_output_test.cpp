// What the command's default reports quote and where they put their
// carets: the node's text on one line, display widths, strict selectors.

#include <gtest/gtest.h>

#include <string>

#include "analysis/rule_catalog.hpp"
#include "output/display_width.hpp"
#include "syntax/token_text.hpp"
#include "test_support.hpp"

namespace keyhound {
namespace {

struct QuotedCase {
  const char* source;
  const char* kind;
  std::size_t most;
  const char* quoted;
};

class DisplayTextTest : public ::testing::TestWithParam<QuotedCase> {};

TEST_P(DisplayTextTest, OneLineCollapsedAndCut) {
  const QuotedCase& c = GetParam();
  testing::ParsedSource parsed(c.source);
  EXPECT_EQ(display_text(parsed.first(c.kind), parsed.text(), c.most), c.quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, DisplayTextTest,
    ::testing::Values(
        QuotedCase{"cfg['port']\n", "subscript", 60, "cfg['port']"},
        // Line breaks and indentation inside brackets vanish; elsewhere a
        // run of white space is one space; comments go.
        QuotedCase{"d[\n    a  +  b,  # why\n    c\n]\n", "subscript", 60, "d[a + b, c]"},
        QuotedCase{"load(\n    path,\n)\n", "call", 60, "load(path,)"},
        QuotedCase{"x = d[a \\\n  + b]\n", "subscript", 60, "d[a + b]"},
        // In a string, white space is one space however long; the string's
        // own brackets and commas are text.
        QuotedCase{"d['''a\n\n   b , ]''']\n", "subscript", 60, "d['''a b , ]''']"},
        QuotedCase{"d[\"x \\\" y\"]\n", "subscript", 60, "d[\"x \\\" y\"]"},
        // Cut by characters, not bytes: the last one kept gives way to "…".
        QuotedCase{"d['abcdefgh']\n", "subscript", 8, "d['abcd\xe2\x80\xa6"},
        QuotedCase{"d['\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9']\n", "subscript", 6,
                   "d['\xc3\xa9\xc3\xa9\xe2\x80\xa6"},
        QuotedCase{"d['abc']\n", "subscript", 8, "d['abc']"},
        // A text with no white space, comment or backslash is shown as it
        // is when it fits; one character more, and it is cut.
        QuotedCase{"d['abcd']\n", "subscript", 9, "d['abcd']"},
        QuotedCase{"d['abcde']\n", "subscript", 9, "d['abcde\xe2\x80\xa6"},
        QuotedCase{"d['\xc3\xa9\xc3\xa9']\n", "subscript", 7, "d['\xc3\xa9\xc3\xa9']"},
        QuotedCase{"d['#x'][k]\n", "subscript", 60, "d['#x'][k]"}),
    [](const auto& info) { return testing::case_name(info.index, info.param.source); });

struct WidthCase {
  const char* line;
  std::size_t start;
  std::size_t end;
  const char* shown;
  std::size_t start_column;
  std::size_t end_column;
};

class LayOutLineTest : public ::testing::TestWithParam<WidthCase> {};

TEST_P(LayOutLineTest, ColumnsByDisplayWidth) {
  const WidthCase& c = GetParam();
  LaidOutLine laid = lay_out_line(c.line, c.start, c.end);
  EXPECT_EQ(laid.text, c.shown);
  EXPECT_EQ(laid.start_column, c.start_column);
  EXPECT_EQ(laid.end_column, c.end_column);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LayOutLineTest,
    ::testing::Values(
        WidthCase{"x = d[k]", 4, 8, "x = d[k]", 4, 8},
        // A tab goes to the next multiple of 8, as spaces.
        WidthCase{"\td[k]", 1, 5, "        d[k]", 8, 12},
        WidthCase{"ab\td[k]", 3, 7, "ab      d[k]", 8, 12},
        // "ö" is two bytes and one column; each CJK character three bytes
        // and two columns; a combining acute accent none.
        WidthCase{"c['p\xc3\xb6']", 0, 9, "c['p\xc3\xb6']", 0, 8},
        WidthCase{"\xe6\x97\xa5\xe6\x9c\xac + d[k]", 9, 13, "\xe6\x97\xa5\xe6\x9c\xac + d[k]", 7,
                  11},
        WidthCase{"e\xcc\x81 d[k]", 4, 8, "e\xcc\x81 d[k]", 2, 6},
        // A control character shows as one picture; a reordering mark as
        // "<U+202E>", eight columns.
        WidthCase{"\x01 d[k]", 2, 6, "\xe2\x90\x81 d[k]", 2, 6},
        WidthCase{"\xe2\x80\xae d[k]", 4, 8, "<U+202E> d[k]", 9, 13},
        // An end past the line (a node that ends on a later row).
        WidthCase{"d[", 0, 2, "d[", 0, 2}),
    [](const auto& info) { return testing::case_name(info.index, info.param.line); });

struct WindowCase {
  const char* name;
  std::string line;
  std::size_t start;
  std::size_t end;
  std::string shown;
  std::size_t start_column;
  std::size_t end_column;
};

class LayOutWindowTest : public ::testing::TestWithParam<WindowCase> {};

// A line wider than the window is shown as a window of it around the
// lookup, cut with "…", the carets under the window; the carets always
// stand under what they mark.
TEST_P(LayOutWindowTest, WindowAroundTheSpan) {
  const WindowCase& c = GetParam();
  LaidOutLine laid = lay_out_window(c.line, c.start, c.end, 20);
  EXPECT_EQ(laid.text, c.shown);
  EXPECT_EQ(laid.start_column, c.start_column);
  EXPECT_EQ(laid.end_column, c.end_column);
  EXPECT_LE(laid.width, 20u);
}

const std::string kCut = "\xe2\x80\xa6";
const std::string kLong = "abcdefghij0123456789ABCDEFGHIJklmnopqrst";  // 40 columns

INSTANTIATE_TEST_SUITE_P(
    Windows, LayOutWindowTest,
    ::testing::Values(
        // Fits: shown whole, as lay_out_line shows it.
        WindowCase{"fits", "x = d[k]", 4, 8, "x = d[k]", 4, 8},
        // Near the start: cut on the right only.
        WindowCase{"start", kLong, 2, 4, "abcdefghij012345678" + kCut, 2, 4},
        // In the middle: a third of the window before the span.
        WindowCase{"middle", kLong, 20, 22, kCut + "456789ABCDEFGHIJkl" + kCut, 7, 9},
        // At the end: as much before it as fits.
        WindowCase{"end", kLong, 38, 40, kCut + "BCDEFGHIJklmnopqrst", 18, 20},
        // A span wider than the window: marked to the window's edge.
        WindowCase{"wide span", kLong, 10, 40, kCut + "efghij0123456789AB" + kCut, 7, 19},
        // Wide characters are never cut in half.
        WindowCase{"wide characters",
                   "\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5"
                   "\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5 d[k] \xe6\x97\xa5\xe6\x97\xa5"
                   "\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5",
                   25, 29,
                   kCut + "\xe6\x97\xa5\xe6\x97\xa5 d[k] \xe6\x97\xa5\xe6\x97\xa5"
                          "\xe6\x97\xa5" + kCut,
                   6, 10}),
    [](const auto& info) { return testing::case_name(info.index, info.param.name); });

// The work per finding is bounded by the window: a line of a million
// bytes costs no more than a short one.
TEST(LayOutWindowTest, LongLineIsNeverLaidOutWhole) {
  std::string line;
  for (int i = 0; i < 100000; ++i) line += "d[k] + ";
  LaidOutLine laid = lay_out_window(line, 350000, 350004, 120);
  EXPECT_LE(laid.width, 120u);
  EXPECT_LE(laid.text.size(), 130u);
  // The text opens with "…", three bytes in one column.
  ASSERT_TRUE(laid.text.starts_with(kCut));
  EXPECT_EQ(laid.text.substr(laid.start_column + 2, laid.end_column - laid.start_column), "d[k]");
}

TEST(CodePointWidthTest, WideNarrowAndZero) {
  EXPECT_EQ(code_point_width(U'a'), 1u);
  EXPECT_EQ(code_point_width(U'\u00e9'), 1u);
  EXPECT_EQ(code_point_width(U'\u65e5'), 2u);
  EXPECT_EQ(code_point_width(U'\uff21'), 2u);      // fullwidth A
  EXPECT_EQ(code_point_width(U'\U0001F600'), 2u);  // an emoji
  EXPECT_EQ(code_point_width(U'\u0301'), 0u);      // combining acute
  EXPECT_EQ(code_point_width(U'\u200b'), 0u);      // zero width space
  EXPECT_EQ(code_point_width(U'\u0416'), 1u);      // Cyrillic
}

struct SelectorCase {
  const char* selector;
  bool good;
  const char* suggestion;
};

class SelectorTest : public ::testing::TestWithParam<SelectorCase> {};

TEST_P(SelectorTest, AGoodSelectorMatchesARule) {
  const SelectorCase& c = GetParam();
  std::optional<std::string> problem = selector_problem(c.selector);
  EXPECT_EQ(!problem, c.good);
  if (problem && *c.suggestion) {
    EXPECT_NE(problem->find(std::string("did you mean '") + c.suggestion + "'"),
              std::string::npos)
        << *problem;
  } else if (problem) {
    EXPECT_NE(problem->find("the codes are KH001, KH002, KH003 and KH100"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Selectors, SelectorTest,
    ::testing::Values(SelectorCase{"KH001", true, ""}, SelectorCase{"KH00", true, ""},
                      SelectorCase{"KH", true, ""}, SelectorCase{"K", true, ""},
                      SelectorCase{"ALL", true, ""}, SelectorCase{"kh001", false, "KH001"},
                      SelectorCase{"all", false, "ALL"}, SelectorCase{"KH01", false, "KH001"},
                      SelectorCase{"KH004", false, "KH001"}, SelectorCase{"KH9", false, ""},
                      SelectorCase{"E501", false, ""}, SelectorCase{"KH0011", false, "KH001"}),
    [](const auto& info) { return testing::case_name(info.index, info.param.selector); });

TEST(SelectorTest, AllMatchesEveryCodeAndAPrefixOnlyItsOwn) {
  for (const RuleDescription& rule : rule_descriptions()) {
    EXPECT_TRUE(selector_matches("ALL", rule.code));
    EXPECT_TRUE(selector_matches(rule.code, rule.code));
  }
  EXPECT_FALSE(selector_matches("KH002", "KH001"));
  EXPECT_FALSE(selector_matches("", "KH001"));
}

TEST(ExplanationTest, EveryRuleSaysEverySectionWithinTheWidth) {
  for (const RuleDescription& rule : rule_descriptions()) {
    std::string text = explanation_text(rule);
    for (const char* section : {"Example:", "Fixed:", "How to fix it:", "noqa: ",
                                "Precise mode (the command's default):"}) {
      EXPECT_NE(text.find(section), std::string::npos) << rule.code << " " << section;
    }
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      EXPECT_LE(end - start, 79u) << text.substr(start, end - start);
      start = end + 1;
    }
  }
}

}  // namespace
}  // namespace keyhound
