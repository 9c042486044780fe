#include <gtest/gtest.h>

#include <string>

#include "analysis/finding_identity.hpp"
#include "formats/finding_fields.hpp"
#include "formats/github_format.hpp"
#include "formats/json_text.hpp"
#include "base/path_names.hpp"
#include "formats/sarif_format.hpp"

namespace keyhound {
namespace {

struct EscapeCase {
  const char* label;
  std::string text;
  std::string expected;
};

class JsonStringTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonStringTest, ValidJsonWhateverTheText) {
  std::string out;
  append_json_string(out, GetParam().text);
  EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonStringTest,
    ::testing::Values(
        EscapeCase{"plain", "a.py", "\"a.py\""},
        EscapeCase{"quote_and_backslash", "we\"ird\\x", "\"we\\\"ird\\\\x\""},
        EscapeCase{"short_controls", "a\nb\rc\td\be\ff", "\"a\\nb\\rc\\td\\be\\ff\""},
        EscapeCase{"other_controls", std::string("\x01\x1f\0", 3), "\"\\u0001\\u001f\\u0000\""},
        // Text is kept; what a terminal acts on (DEL, C1 controls) or what
        // reorders what a reader sees (bidirectional controls) is escaped.
        EscapeCase{"non_ascii_kept", "\xc3\xa9\xe6\x97\xa5\xe2\x80\xa9",
                   "\"\xc3\xa9\xe6\x97\xa5\xe2\x80\xa9\""},
        EscapeCase{"del_c1_and_bidi_escaped",
                   "\x7f\xc2\x85\xc2\x9b\xe2\x80\xaa\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9",
                   "\"\\u007f\\u0085\\u009b\\u202a\\u202e\\u2066\\u2069\""},
        EscapeCase{"invalid_bytes_replaced", "a\xff\xc3", "\"a\xef\xbf\xbd\xef\xbf\xbd\""},
        // Plain runs around each kind of byte that is not plain.
        EscapeCase{"runs_between_escapes", "\"ab\\cd\x7f e\xc3\xa9" "f\xffg~ \n",
                   "\"\\\"ab\\\\cd\\u007f e\xc3\xa9" "f\xef\xbf\xbdg~ \\n\""}),
    [](const ::testing::TestParamInfo<EscapeCase>& info) { return info.param.label; });

// Plain text is tested a word at a time: every byte, at every place of a
// word and across two, goes as it is exactly when it is plain.
TEST(JsonStringTest, EachByteAtEachPlaceOfAWord) {
  for (int byte = 0; byte < 256; ++byte) {
    const bool plain = byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
    for (std::size_t place = 0; place < 17; ++place) {
      std::string text(24, 'a');
      text[place] = static_cast<char>(byte);
      std::string out;
      append_json_string(out, text);
      EXPECT_EQ(out == "\"" + text + "\"", plain) << "byte " << byte << " at " << place;
    }
  }
}

TEST(JsonObjectTest, MembersInOrderOnOneLine) {
  EXPECT_EQ(JsonObject().string("a", "x").number("b", 2).null("c").boolean("d", false).text(),
            "{\"a\": \"x\", \"b\": 2, \"c\": null, \"d\": false}");
  EXPECT_EQ(json_location(3, 14), "{\"row\": 3, \"column\": 14}");
}

TEST(GithubEscapingTest, DataAndProperties) {
  EXPECT_EQ(escape_workflow_data("100% a:b,c\r\n"), "100%25 a:b,c%0D%0A");
  EXPECT_EQ(escape_workflow_property("100% a:b,c\r\n"), "100%25 a%3Ab%2Cc%0D%0A");
  EXPECT_EQ(escape_workflow_data("a\x1b\tb\x7f"), "a\u241b\u2409b\u2421");
}

TEST(SarifUriTest, SlashesKeptEverythingElseOutsideUnreservedEncoded) {
  EXPECT_EQ(uri_path("src/app/main.py"), "src/app/main.py");
  EXPECT_EQ(uri_path("a b/we\"ird\nn\xc3\xa9.py"), "a%20b/we%22ird%0An%C3%A9.py");
}

TEST(FindingKeyTest, NoLineNumbersAndTheCalleeForCalls) {
  FileReport report{.path = "a.py",
                    .findings = {AccessFinding{"f", {4, 11, 11}, {4, 17, 17}, make_source_line("x"), "d['k']"},
                                 CallFinding{"g", "f", {"KeyError"}, {9, 4, 4}, {9, 7, 7}, make_source_line("y"),
                                             "f()", "f()", Origin{{4, 11, 11}, "d['k']"}}},
                    .outcome = {}};
  std::vector<FindingFields> fields = finding_fields(report, kModulePresentation);
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(finding_key("a.py", *fields[0].finding, KeyFields::AsWritten), "a.py\tKH001\tf\td['k']");
  EXPECT_EQ(finding_key("a.py", *fields[1].finding, KeyFields::AsWritten), "a.py\tKH002\tg\tf()\tf");
  EXPECT_EQ(fields[1].message, "Possible KeyError not handled when calling 'f' in function 'g'");
  EXPECT_EQ(fields[0].column(), 12u);
  EXPECT_EQ(fields[0].end_column(), 18u);
  // FNV-1a 64 of the empty text and of "a": fixed values on every machine.
  EXPECT_EQ(stable_hash(""), "cbf29ce484222325");
  EXPECT_EQ(stable_hash("a"), "af63dc4c8601ec8c");
}

// The baseline is a tab-separated file: its keys escape what would break a
// row, where the fingerprints hash the fields as written.
TEST(FindingKeyTest, EscapedFieldsKeepTheBaselineRowWhole) {
  Finding access = AccessFinding{"f", {0, 0, 0}, {0, 9, 9}, make_source_line("x"), "d['a\tb\\']"};
  EXPECT_EQ(finding_key("dir\\a.py", access, KeyFields::AsWritten), "dir\\a.py\tKH001\tf\td['a\tb\\']");
  EXPECT_EQ(finding_key("dir\\a.py", access, KeyFields::Escaped),
            "dir\\\\a.py\tKH001\tf\td['a\\tb\\\\']");
}

}  // namespace
}  // namespace keyhound

namespace keyhound {
namespace {

// The syntax-error record names the module; its fields point at storage
// that outlives them (a temporary here once left them dangling).
TEST(FindingFieldsTest, SyntaxErrorIsRecordedUnderTheModule) {
  FileReport report{.path = "a.py",
                    .findings = {SyntaxErrorFinding{{0, 0, 0}, {0, 5, 5}, make_source_line("def (:"), 0}},
                    .outcome = {}};
  std::vector<FindingFields> fields = finding_fields(report, kModulePresentation);
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].code, "KH003");
  EXPECT_EQ(fields[0].function, "<module>");
  EXPECT_EQ(finding_key("a.py", *fields[0].finding, KeyFields::AsWritten), "a.py\tKH003\t<module>\t");
}

}  // namespace
}  // namespace keyhound
