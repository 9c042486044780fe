#include <gtest/gtest.h>

#include <string>

#include "run/noqa_editor.hpp"

namespace keyhound {
namespace {

struct EditCase {
  const char* name;
  const char* source;
  uint32_t row;
  const char* expected;   // the text after the edit
  bool refused = false;   // no comment can go there
};

class NoqaEditorTest : public testing::TestWithParam<EditCase> {};

TEST_P(NoqaEditorTest, PlacesOrMergesOrRefuses) {
  const EditCase& c = GetParam();
  NoqaEdit edit = add_noqa_comments(c.source, {{c.row, {"KH001"}}});
  EXPECT_EQ(edit.text, c.expected);
  EXPECT_EQ(edit.refused.empty(), !c.refused);
  EXPECT_EQ(edit.comments_added, c.refused || std::string(c.source) == c.expected ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NoqaEditorTest,
    testing::Values(
        EditCase{"appended", "x = d['k']\n", 0, "x = d['k']  # noqa: KH001\n"},
        EditCase{"before_carriage_return", "x = d['k']\r\n", 0, "x = d['k']  # noqa: KH001\r\n"},
        EditCase{"merged", "x = d['k']  # noqa: KH002\n", 0, "x = d['k']  # noqa: KH002, KH001\n"},
        EditCase{"bare_noqa_kept", "x = d['k']  # noqa\n", 0, "x = d['k']  # noqa\n"},
        EditCase{"backslash_in_a_comment", "x = d['k']  # see \\\n", 0,
                 "x = d['k']  # see \\  # noqa: KH001\n"},
        EditCase{"continuation_at_the_end", "x = d['k'] \\", 0, "x = d['k'] \\", true},
        EditCase{"row_past_the_end", "x = d['k']\n", 3, "x = d['k']\n", true}),
    [](const testing::TestParamInfo<EditCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace keyhound
