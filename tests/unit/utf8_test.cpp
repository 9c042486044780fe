#include <gtest/gtest.h>

#include <string_view>

#include "base/utf8.hpp"

namespace keyhound {
namespace {

// A text, a place in it, and the length of the valid sequence there (0: none).
struct SequenceCase {
  std::string_view text;
  std::size_t at;
  std::size_t length;
};

class Utf8SequenceTest : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(Utf8SequenceTest, OnlyAWholeValidSequenceCounts) {
  const SequenceCase& c = GetParam();
  EXPECT_EQ(valid_utf8_sequence_at(c.text, c.at), c.length);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8SequenceTest,
    ::testing::Values(SequenceCase{"a", 0, 1}, SequenceCase{"\xC3\xA9", 0, 2},
                      SequenceCase{"x\xE2\x82\xAC", 1, 3}, SequenceCase{"\xF0\x9F\x98\x80", 0, 4},
                      SequenceCase{"\xA9", 0, 0},              // a continuation byte alone
                      SequenceCase{"\xE2\x82", 0, 0},          // cut short by the end
                      SequenceCase{"\xC0\xAF", 0, 0},          // overlong
                      SequenceCase{"\xED\xA0\x80", 0, 0},      // a surrogate
                      SequenceCase{"\xF4\x90\x80\x80", 0, 0},  // above U+10FFFF
                      SequenceCase{"\xFF", 0, 0}, SequenceCase{"a", 1, 0}));

}  // namespace
}  // namespace keyhound
