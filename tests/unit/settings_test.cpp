// The one table of settings: every setting reaches each front end that
// takes it by the same name, as the same value, with the same message for
// a value of the wrong type; and the layers settle once.

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/native_options.hpp"
#include "cli/run_command.hpp"
#include "project/configuration.hpp"
#include "run/settled_settings.hpp"
#include "server/server_settings.hpp"
#include "settings/setting_table.hpp"

namespace keyhound {
namespace {

// A good value of each kind, as each source writes it, and what it reads as.
struct KindSample {
  SettingKind kind;
  std::string toml;
  std::string json;
  std::string command_line;  // empty for a flag
  SettingValue value;
  // A value of the wrong type, in TOML and JSON.
  std::string wrong;
};

std::vector<KindSample> samples() {
  return {
      {SettingKind::Flag, "true", "true", "", true, "\"yes\""},
      {SettingKind::Count, "2", "2", "2", std::uint64_t{2}, "\"2\""},
      {SettingKind::Text, "\"x\"", "\"x\"", "x", std::string("x"), "1"},
      {SettingKind::Texts, "[\"a\"]", "[\"a\"]", "a", std::vector<std::string>{"a"}, "\"a\""},
      {SettingKind::Codes, "[\"KH001\"]", "[\"KH001\"]", "KH001",
       std::vector<std::string>{"KH001"}, "\"KH001\""},
      {SettingKind::GlobCodes, "{ \"t/*\" = [\"KH001\"] }", "{\"t/*\": [\"KH001\"]}",
       "t/*:KH001", GlobCodes{{"t/*", {"KH001"}}}, "1"},
  };
}

// A Choice takes its first choice.
KindSample sample_of(const Setting& setting) {
  if (setting.kind == SettingKind::Choice) {
    std::string choice = setting_choices(setting).front();
    return {SettingKind::Choice, "\"" + choice + "\"", "\"" + choice + "\"", choice, choice,
            "\"nope\""};
  }
  for (KindSample& sample : samples()) {
    if (sample.kind == setting.kind) return sample;
  }
  ADD_FAILURE() << "no sample of the kind of " << setting.key;
  return {};
}

std::expected<NativeOptions, CommandExit> settle_command_line(std::vector<std::string> argv) {
  argv.insert(argv.begin(), "keyhound");
  argv.push_back("--isolated");
  CommandDecision decision = decide_command(native_command(), argv);
  if (auto* exit = std::get_if<CommandExit>(&decision)) return std::unexpected(*exit);
  return settle_native_options(std::get<ParsedArguments>(decision), argv);
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

TEST(SettingsTest, EverySettingReachesItsSourcesAlike) {
  for (const Setting& setting : setting_table()) {
    SCOPED_TRACE(std::string(setting.key));
    const KindSample sample = sample_of(setting);
    ASSERT_NE(setting.sources & kFromConfiguration, 0u) << "every setting can be configured";
    // The configuration file.
    auto configured = parse_configuration(
        "[tool.keyhound]\n" + std::string(setting.key) + " = " + sample.toml + "\n",
        "pyproject.toml", "/work");
    ASSERT_TRUE(configured) << configured.error();
    ASSERT_NE((*configured)->find(setting.id), nullptr);
    EXPECT_EQ(*(*configured)->find(setting.id), sample.value);
    auto wrong = parse_configuration(
        "[tool.keyhound]\n" + std::string(setting.key) + " = " + sample.wrong + "\n",
        "pyproject.toml", "/work");
    ASSERT_FALSE(wrong);
    EXPECT_TRUE(wrong.error().starts_with("invalid configuration in 'pyproject.toml': " +
                                          must_be_message(setting, ValueLanguage::Toml, "")))
        << wrong.error();

    // The server's initializationOptions, by the same key.
    const std::string key(setting.key);
    SettingOverrides overrides = read_setting_overrides(
        nlohmann::json::parse("{\"" + key + "\": " + sample.json + "}"));
    if ((setting.sources & kFromServer) != 0) {
      EXPECT_FALSE(overrides.problem) << *overrides.problem;
      ASSERT_EQ(overrides.values.size(), 1u);
      EXPECT_EQ(overrides.values[0].first, setting.id);
      EXPECT_EQ(overrides.values[0].second, sample.value);
      SettingOverrides bad = read_setting_overrides(
          nlohmann::json::parse("{\"" + key + "\": " + sample.wrong + "}"));
      ASSERT_TRUE(bad.problem);
      EXPECT_TRUE(bad.problem->starts_with("initializationOptions: " +
                                           must_be_message(setting, ValueLanguage::Json, "")))
          << *bad.problem;
      EXPECT_TRUE(bad.values.empty());
    } else {
      ASSERT_TRUE(overrides.problem);
      EXPECT_EQ(*overrides.problem, "initializationOptions: unknown key '" + key + "'");
    }

    // The API's keyword is the key with '_' for '-', and nothing else.
    const Setting* by_keyword = setting_named(key_for(setting, kFromApi), kFromApi);
    EXPECT_EQ(by_keyword, (setting.sources & kFromApi) != 0 ? &setting : nullptr);

    // The command line: its option, in help, read as the same value.
    if ((setting.sources & kFromCommandLine) == 0) continue;
    const std::string option(option_name(setting));
    bool listed = false;
    for (const OptionSpec& spec : native_command().options) {
      if (spec.long_name != option) continue;
      listed = true;
      EXPECT_EQ(spec.value_name.empty(), setting.kind == SettingKind::Flag);
      EXPECT_FALSE(spec.help.empty());
    }
    EXPECT_TRUE(listed);
    std::vector<std::string> argv{"--" + option};
    if (!sample.command_line.empty()) argv.push_back(sample.command_line);
    auto settled = settle_command_line(argv);
    ASSERT_TRUE(settled) << joined(settled.error().lines);
    const GivenSetting* given = settled->settings.value(setting.id);
    ASSERT_NE(given, nullptr);
    EXPECT_EQ(given->origin, SettingOrigin::CommandLine);
    if (setting.kind == SettingKind::Flag) {
      EXPECT_EQ(std::get<bool>(given->value), !option.starts_with("no-"));
    } else {
      EXPECT_EQ(given->value, sample.value);
    }
  }
}

// A value the command line cannot read says what the setting expects, in
// the words the other sources use.
TEST(SettingsTest, CommandLineSaysWhatIsExpected) {
  struct Case {
    std::vector<std::string> argv;
    std::string expected;
  };
  for (const Case& c : std::vector<Case>{
           {{"--jobs", "0"}, "invalid value '0' for '--jobs <N>': expected a whole number of 1 or more"},
           {{"--min-confidence", "sure"},
            "invalid value 'sure' for '--min-confidence <TIER>': expected one of: high, medium, low"},
           {{"--select", "KH0002"}, "did you mean 'KH002'?"},
           {{"--per-file-ignores", "nocolon"}, "expected GLOB:CODES"},
           {{"--exact", "--precise"}, "the argument '--exact' cannot be used with '--precise'"},
       }) {
    auto settled = settle_command_line(c.argv);
    ASSERT_FALSE(settled) << c.argv[0];
    EXPECT_NE(joined(settled.error().lines).find(c.expected), std::string::npos)
        << joined(settled.error().lines);
  }
}

// Layers: the defaults, the configuration, then the command line or call.
TEST(SettingsTest, LayersSettleOnce) {
  struct Given {
    SettingId id;
    SettingValue value;
    SettingOrigin origin;
    std::string place;
  };
  struct Case {
    const char* name;
    std::vector<Given> given;
    bool precise;
    std::optional<std::string> error;
  };
  const SettingOrigin file = SettingOrigin::Configuration;
  const SettingOrigin line = SettingOrigin::CommandLine;
  for (const Case& c : std::vector<Case>{
           {"nothing: precise", {}, true, {}},
           {"exact in the file", {{SettingId::Exact, true, file, "p.toml"}}, false, {}},
           {"the command line wins",
            {{SettingId::Exact, true, file, "p.toml"}, {SettingId::Precise, true, line, "--precise"}},
            true, {}},
           {"precise = false in the file", {{SettingId::Precise, false, file, "p.toml"}}, false, {}},
           {"both false in one file",
            {{SettingId::Exact, false, file, "p.toml"}, {SettingId::Precise, false, file, "p.toml"}},
            false, {}},
           {"both true in one file",
            {{SettingId::Exact, true, file, "p.toml"}, {SettingId::Precise, true, file, "p.toml"}},
            true, "p.toml: 'exact' and 'precise' cannot both be true"},
       }) {
    SCOPED_TRACE(c.name);
    SettingLayers layers;
    for (const Given& given : c.given) {
      layers.give(given.id, given.value, given.origin, "/work", given.place);
    }
    auto settled = settle_settings(layers, "/work", "/work");
    if (c.error) {
      ASSERT_FALSE(settled);
      EXPECT_EQ(settled.error(), *c.error);
      continue;
    }
    ASSERT_TRUE(settled) << settled.error();
    EXPECT_EQ(settled->precise, c.precise);
    // Test code goes unreported, and findings are ranked, in precise mode only.
    EXPECT_EQ(settled->selection.test_code.empty(), !c.precise);
    EXPECT_EQ(settled->selection.min_confidence.has_value(), c.precise);
  }
}

TEST(SettingsTest, ListsAddAndOthersReplace) {
  SettingLayers layers;
  layers.give(SettingId::Select, std::vector<std::string>{"KH001"}, SettingOrigin::Configuration,
              "/p", "/p/pyproject.toml");
  layers.give(SettingId::Select, std::vector<std::string>{"KH002"}, SettingOrigin::CommandLine,
              "/w", "--select");
  layers.give(SettingId::ExtendExclude, std::vector<std::string>{"a/x.py"},
              SettingOrigin::Configuration, "/p", "/p/pyproject.toml");
  layers.give(SettingId::ExtendExclude, std::vector<std::string>{"b/x.py"}, SettingOrigin::CommandLine,
              "/w", "--extend-exclude");
  layers.give(SettingId::IncludeTests, true, SettingOrigin::Configuration, "/p",
              "/p/pyproject.toml");
  auto settled = settle_settings(layers, "/w", "/p");
  ASSERT_TRUE(settled);
  EXPECT_EQ(settled->selection.select, std::vector<std::string>{"KH002"});
  EXPECT_TRUE(settled->selection.test_code.empty());
  // Each extension keeps the directory of the place that gave it.
  const std::size_t defaults = exclusion_patterns(default_exclusions(), "/w").size();
  ASSERT_EQ(settled->exclusions.size(), defaults + 2);
  EXPECT_TRUE(settled->exclusions[defaults].matches({"a", "x.py"}, "/p/a/x.py", false));
  EXPECT_FALSE(settled->exclusions[defaults].matches({"a", "x.py"}, "/w/a/x.py", false));
  EXPECT_TRUE(settled->exclusions[defaults + 1].matches({"b", "x.py"}, "/w/b/x.py", false));

  // The listing says where each value came from, the defaults too.
  std::string listing;
  for (const std::string& line : settings_listing(layers)) listing += line;
  EXPECT_NE(listing.find("select            = [\"KH002\"]  # command line: --select\n"),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find("extend-exclude    = [\"a/x.py\"]  # /p/pyproject.toml\n"
                         "                  + [\"b/x.py\"]  # command line: --extend-exclude\n"),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find("min-confidence    = \"medium\"  # default\n"), std::string::npos)
      << listing;
}

// A value shown is valid TOML and shows no control character raw.
TEST(SettingsTest, ListedValuesAreEscaped) {
  EXPECT_EQ(toml_text(std::string("a\x1b[31m\"\\")), "\"a\\u001b[31m\\\"\\\\\"");
  EXPECT_EQ(toml_text(GlobCodes{{"t/*", {"KH001", "KH002"}}}),
            "{ \"t/*\" = [\"KH001\", \"KH002\"] }");
  EXPECT_EQ(toml_text(std::uint64_t{4}), "4");
}

}  // namespace
}  // namespace keyhound
