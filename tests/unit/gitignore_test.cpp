#include <gtest/gtest.h>

#include <string>

#include "project/git_work_tree.hpp"
#include "project/glob_pattern.hpp"

namespace keyhound {
namespace {

struct GlobCase {
  const char* pattern;
  const char* name;
  bool matches;
};

class GlobPatternTest : public ::testing::TestWithParam<GlobCase> {};

TEST_P(GlobPatternTest, MatchesOneComponent) {
  const GlobCase& c = GetParam();
  EXPECT_EQ(GlobPattern(c.pattern).matches(c.name), c.matches) << c.pattern << " on " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Globs, GlobPatternTest,
    // What the table against git (which needs file names) cannot reach:
    // empty names, brackets inside sets, unknown classes.
    ::testing::Values(GlobCase{"a*b*c", "aXbY", false}, GlobCase{"*", "", true},
                      GlobCase{"?", "", false}, GlobCase{"[]a]", "]", true},
                      GlobCase{"[!]a]", "b", true}, GlobCase{"[a-]", "-", true},
                      GlobCase{"[[:nope:]]", "a", false}, GlobCase{"[\\]]", "]", true}));

// The patterns come from the tree being checked: a pattern built to make a
// backtracking matcher take exponential time is answered at once.
TEST(GlobPatternTest, PathologicalPatternsStayLinear) {
  std::string pattern;
  for (int i = 0; i < 200; ++i) pattern += "*a";
  pattern += "*b";
  const std::string name(250, 'a');
  EXPECT_FALSE(GlobPattern(pattern).matches(name));
  EXPECT_TRUE(GlobPattern(pattern).matches(std::string(200, 'a') + "b"));
}

struct ConfigCase {
  const char* config;
  const char* expected;  // nullptr: no setting
};

class ExcludesSettingTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ExcludesSettingTest, ReadsCoreExcludesFile) {
  const ConfigCase& c = GetParam();
  auto setting = excludes_file_setting(c.config, "/home/u");
  if (c.expected == nullptr) {
    EXPECT_FALSE(setting) << c.config;
  } else {
    ASSERT_TRUE(setting) << c.config;
    EXPECT_EQ(*setting, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Configs, ExcludesSettingTest,
    ::testing::Values(
        ConfigCase{"[core]\n\texcludesFile = ~/ig\n", "/home/u/ig"},
        ConfigCase{"[CORE]\nEXCLUDESFILE=/abs/x\n", "/abs/x"},
        ConfigCase{"[core]\nexcludesfile = \"a b\" # note\n", "a b"},
        ConfigCase{"[core]\nexcludesfile = first\nexcludesfile = second\n", "second"},
        ConfigCase{"[user]\nexcludesfile = not-core\n", nullptr},
        ConfigCase{"[core \"sub\"]\nexcludesfile = x\n", nullptr},
        ConfigCase{"[core]\n; excludesfile = commented\n", nullptr},
        ConfigCase{"[core] excludesfile = same-line\n", "same-line"},
        ConfigCase{"[core]\nexcludesfile = long\\\nname\n", "longname"}));

}  // namespace
}  // namespace keyhound
