#include <gtest/gtest.h>

#include <string>

#include "output/terminal_text.hpp"

namespace keyhound {
namespace {

struct SafeCase {
  const char* label;
  std::string text;
  std::string as_source;
  std::string as_name;
};

class TerminalTextTest : public ::testing::TestWithParam<SafeCase> {};

TEST_P(TerminalTextTest, SourceKeepsTabsNamesDoNot) {
  std::string source;
  append_terminal_safe_source(source, GetParam().text);
  EXPECT_EQ(source, GetParam().as_source);
  EXPECT_EQ(terminal_safe_name(GetParam().text), GetParam().as_name);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TerminalTextTest,
    ::testing::Values(
        SafeCase{"plain_ascii", "a.py", "a.py", "a.py"},
        SafeCase{"other_non_ascii_kept", "caf\xc3\xa9 \xe6\x97\xa5.py", "caf\xc3\xa9 \xe6\x97\xa5.py",
                 "caf\xc3\xa9 \xe6\x97\xa5.py"},
        SafeCase{"newline_and_escape", "n\nx\x1b[2J", "n\xe2\x90\x8ax\xe2\x90\x9b[2J",
                 "n\xe2\x90\x8ax\xe2\x90\x9b[2J"},
        SafeCase{"tab", "a\tb", "a\tb", "a\xe2\x90\x89" "b"},
        SafeCase{"nul_and_del", std::string("a\0b\x7f", 4), "a\xe2\x90\x80" "b\xe2\x90\xa1",
                 "a\xe2\x90\x80" "b\xe2\x90\xa1"},
        SafeCase{"c1_controls", "a\xc2\x80z\xc2\x9b", "a<U+0080>z<U+009B>", "a<U+0080>z<U+009B>"},
        SafeCase{"c2_above_c1_kept", "\xc2\xa0\xc2\xa9", "\xc2\xa0\xc2\xa9", "\xc2\xa0\xc2\xa9"},
        SafeCase{"bidi_override_and_isolates",
                 "x\xe2\x80\xaey\xe2\x81\xa6z\xe2\x81\xa9\xe2\x80\xaa",
                 "x<U+202E>y<U+2066>z<U+2069><U+202A>", "x<U+202E>y<U+2066>z<U+2069><U+202A>"},
        SafeCase{"neighbours_of_bidi_kept", "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
                 "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
                 "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},
        SafeCase{"truncated_sequence_at_end", "a\xe2\x80", "a\xe2\x80", "a\xe2\x80"}),
    [](const ::testing::TestParamInfo<SafeCase>& info) { return info.param.label; });

}  // namespace
}  // namespace keyhound
