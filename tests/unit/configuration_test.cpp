#include <gtest/gtest.h>

#include <string>

#include "project/configuration.hpp"

namespace keyhound {
namespace {

std::expected<std::optional<Configuration>, std::string> parse(const std::string& table) {
  return parse_configuration("[tool.keyhound]\n" + table, "pyproject.toml", "/work");
}

TEST(ConfigurationTest, KeysBecomeSettingsInTheFilesOrder) {
  auto parsed = parse(
      "jobs = 3\noutput-format = \"sarif\"\nselect = [\"KH001\"]\n"
      "[tool.keyhound.per-file-ignores]\n\"tests/*\" = [\"KH001\"]\n");
  ASSERT_TRUE(parsed) << parsed.error();
  ASSERT_TRUE(*parsed);
  const Configuration& c = **parsed;
  ASSERT_EQ(c.values.size(), 4u);
  EXPECT_EQ(c.values[0].first, SettingId::Jobs);
  EXPECT_EQ(std::get<std::uint64_t>(c.values[0].second), 3u);
  EXPECT_EQ(std::get<std::string>(*c.find(SettingId::OutputFormat)), "sarif");
  EXPECT_EQ(std::get<std::vector<std::string>>(*c.find(SettingId::Select)),
            std::vector<std::string>{"KH001"});
  const auto& table = std::get<GlobCodes>(*c.find(SettingId::PerFileIgnores));
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].first, "tests/*");
  EXPECT_EQ(c.find(SettingId::Exclude), nullptr);
  EXPECT_EQ(c.directory, "/work");
}

struct ErrorCase {
  const char* table;
  const char* message;  // after "invalid configuration in 'pyproject.toml': "
};

class ConfigurationErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ConfigurationErrorTest, SaysWhichKeyAndWhatWasExpected) {
  const ErrorCase& c = GetParam();
  auto parsed = parse(c.table);
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error(), std::string("invalid configuration in 'pyproject.toml': ") + c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ConfigurationErrorTest,
    ::testing::Values(
        ErrorCase{"jobs = 0\n", "'jobs' must be a whole number of 1 or more, not an integer 0"},
        ErrorCase{"jobs = \"2\"\n",
                  "'jobs' must be a whole number of 1 or more, not a string \"2\""},
        ErrorCase{"precise = 1\n", "'precise' must be true or false, not an integer 1"},
        ErrorCase{"exclude = \"a\"\n", "'exclude' must be an array of strings, not a string \"a\""},
        ErrorCase{"select = [1]\n", "'select' must be an array of strings, not an integer 1"},
        ErrorCase{"output-format = \"xml\"\n",
                  "'output-format' must be one of \"full\", \"concise\", \"json\", "
                  "\"json-lines\", \"sarif\", \"github\", not a string \"xml\""},
        ErrorCase{"per-file-ignores = 1\n",
                  "'per-file-ignores' must be a table of glob to codes, not an integer 1"},
        ErrorCase{"colour = true\n",
                  "unknown key 'colour' in [tool.keyhound]; expected one of: jobs, exclude, "
                  "extend-exclude, force-exclude, respect-gitignore, output-format, exact, "
                  "precise, include-tests, test-paths, min-confidence, select, ignore, "
                  "per-file-ignores, ignore-noqa, baseline, cache-dir"},
        ErrorCase{"exlude = []\n",
                  "unknown key 'exlude' in [tool.keyhound]; did you mean 'exclude'? expected "
                  "one of: jobs, exclude, extend-exclude, force-exclude, respect-gitignore, "
                  "output-format, exact, precise, include-tests, test-paths, min-confidence, "
                  "select, ignore, per-file-ignores, ignore-noqa, baseline, cache-dir"},
        ErrorCase{"min-confidence = \"certain\"\n",
                  "'min-confidence' must be one of \"high\", \"medium\", \"low\", not a "
                  "string \"certain\""}));

// A non-ASCII character after a bare key once sent the TOML parser into
// undefined behaviour (the sanitizer build catches it); it is a parse error.
TEST(ConfigurationTest, NonAsciiAfterABareKeyIsAParseError) {
  for (const char* text : {"[tool.keyhound]\nna\xc3\xafve = 1\n", "f\xc9\x87 = 1\n",
                           "[tool.keyhound]\nx\xe3\x80\x81 = 1\n"}) {
    auto parsed = parse_configuration(text, "pyproject.toml", "/work");
    ASSERT_FALSE(parsed) << text;
    EXPECT_TRUE(parsed.error().starts_with("cannot parse 'pyproject.toml': ")) << parsed.error();
  }
}

TEST(ConfigurationTest, NoTableIsNoConfigurationAndBrokenTomlIsAnError) {
  auto none = parse_configuration("[tool.other]\nx = 1\n", "pyproject.toml", "/work");
  ASSERT_TRUE(none);
  EXPECT_FALSE(*none);
  auto broken = parse_configuration("[tool.keyhound\n", "pyproject.toml", "/work");
  ASSERT_FALSE(broken);
  EXPECT_TRUE(broken.error().starts_with("cannot parse 'pyproject.toml': ")) << broken.error();
}

}  // namespace
}  // namespace keyhound
