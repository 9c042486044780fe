#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "analysis/suppression.hpp"

namespace keyhound {
namespace {

// A comment as parse_line_directive sees it, and what it suppresses:
// nothing (not a directive), everything, or these codes.
struct DirectiveCase {
  const char* comment;
  bool directive;
  bool all;
  std::vector<std::string> codes;
  // Where more codes would go: after the last code of the first noqa list.
  std::optional<std::size_t> list_end = std::nullopt;
};

class LineDirectiveTest : public ::testing::TestWithParam<DirectiveCase> {};

TEST_P(LineDirectiveTest, MatchesAsFlake8Does) {
  const DirectiveCase& c = GetParam();
  std::optional<Directive> directive = parse_line_directive(c.comment);
  ASSERT_EQ(directive.has_value(), c.directive) << c.comment;
  if (!directive) return;
  EXPECT_EQ(directive->all, c.all) << c.comment;
  EXPECT_EQ(directive->codes, c.codes) << c.comment;
  EXPECT_EQ(directive->noqa_list_end, c.list_end) << c.comment;
}

INSTANTIATE_TEST_SUITE_P(
    Comments, LineDirectiveTest,
    ::testing::Values(DirectiveCase{"# noqa", true, true, {}},
                      DirectiveCase{"#NOQA", true, true, {}},
                      DirectiveCase{"# noqa: KH001", true, false, {"KH001"}, 13},
                      DirectiveCase{"# noqa: KH001 why", true, false, {"KH001"}, 13},
                      DirectiveCase{"# noqa:KH001,KH002", true, false, {"KH001", "KH002"}, 18},
                      DirectiveCase{"# noqa: KH001 KH002", true, false, {"KH001", "KH002"}, 19},
                      DirectiveCase{"# noqa: E1 # noqa: KH001", true, false, {"E1", "KH001"}, 10},
                      DirectiveCase{"# noqa:", true, true, {}},
                      DirectiveCase{"# type: ignore # noqa: E501", true, false, {"E501"}, 27},
                      DirectiveCase{"# keyhound: ignore", true, true, {}},
                      DirectiveCase{"# keyhound: ignore[KH002]", true, false, {"KH002"}},
                      DirectiveCase{"# no qa", false, false, {}},
                      DirectiveCase{"# a comment", false, false, {}}));

TEST(FileDirectiveTest, OnlyTheKeyhoundFormCoversTheFile) {
  EXPECT_TRUE(parse_file_directive("# keyhound: noqa"));
  auto codes = parse_file_directive("# keyhound: noqa: KH002");
  ASSERT_TRUE(codes);
  EXPECT_TRUE(codes->suppresses("KH002"));
  EXPECT_FALSE(codes->suppresses("KH001"));
  EXPECT_FALSE(parse_file_directive("# noqa"));
}

// A node on rows first..last of a file whose rows 1 and 2 are one logical
// line (a backslash continuation), with a comment on row 2.
struct RowCase {
  uint32_t first;
  uint32_t last;
  bool suppressed;
  uint32_t comment_row;
};

class LogicalLineTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(LogicalLineTest, CommentsApplyToTheirWholeLogicalLine) {
  const RowCase& c = GetParam();
  std::vector<CommentToken> comments{{2, "# noqa: KH001", false}};
  Suppressions suppressions(comments, {{1, 2}});
  EXPECT_EQ(suppressions.suppresses("KH001", c.first, c.last), c.suppressed);
  EXPECT_FALSE(suppressions.suppresses("KH002", c.first, c.last));
  EXPECT_EQ(suppressions.comment_row(c.last), c.comment_row);
}

INSTANTIATE_TEST_SUITE_P(Rows, LogicalLineTest,
                         ::testing::Values(RowCase{1, 1, true, 2}, RowCase{2, 2, true, 2},
                                           RowCase{0, 0, false, 0}, RowCase{3, 3, false, 3},
                                           RowCase{0, 1, true, 2}));

}  // namespace
}  // namespace keyhound
