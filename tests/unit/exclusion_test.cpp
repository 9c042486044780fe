#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/path_names.hpp"
#include "project/exclusion.hpp"

namespace keyhound {
namespace {

struct PatternCase {
  const char* pattern;
  const char* path;  // below /work, where the pattern was given
  bool is_directory;
  bool excluded;
};

class ExclusionPatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(ExclusionPatternTest, MatchesAsGitignoreDoes) {
  const PatternCase& c = GetParam();
  ExclusionPattern pattern(c.pattern, "/work");
  std::string absolute = std::string("/work/") + c.path;
  EXPECT_EQ(pattern.matches(path_components(c.path), absolute, c.is_directory), c.excluded)
      << c.pattern << " on " << c.path;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ExclusionPatternTest,
    ::testing::Values(
        // A bare name: any component, anywhere.
        PatternCase{"build", "build", true, true}, PatternCase{"build", "src/build", true, true},
        PatternCase{"build", "src/build/a.py", false, true},
        PatternCase{"build", "src/builder.py", false, false},
        PatternCase{"*.pyc", "a/b.pyc", false, true}, PatternCase{"*.py", "a/b.pyc", false, false},
        PatternCase{"te?t", "test", true, true}, PatternCase{"[ab].py", "c.py", false, false},
        PatternCase{"[ab].py", "b.py", false, true},
        // A trailing slash: directories only.
        PatternCase{"gen/", "gen", true, true}, PatternCase{"gen/", "gen", false, false},
        // A slash anchors it to where it was given.
        PatternCase{"src/gen", "src/gen", true, true},
        PatternCase{"src/gen", "lib/src/gen", true, false},
        PatternCase{"src/**/old", "src/a/b/old/x.py", false, true},
        PatternCase{"src/**/old", "src/old", true, true},
        PatternCase{"/abs", "abs", true, true}, PatternCase{"/abs", "x/abs", true, false}));

TEST(ExclusionListTest, CommaSeparatedValuesAndDefaults) {
  auto patterns = exclusion_patterns({"a,b", "c"}, "/work");
  EXPECT_EQ(patterns.size(), 3u);
  EXPECT_TRUE(is_excluded(patterns, {"x", "b"}, "/work/x/b", true));
  EXPECT_FALSE(is_excluded(patterns, {"x", "d"}, "/work/x/d", true));
  const auto& defaults = default_exclusions();
  EXPECT_NE(std::find(defaults.begin(), defaults.end(), ".git"), defaults.end());
}

}  // namespace
}  // namespace keyhound
