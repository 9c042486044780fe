#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "output/color.hpp"

namespace keyhound {
namespace {

TEST(ColorCodeTest, NamedBrightAndTrueColours) {
  EXPECT_EQ(to_fg_str(NamedColor::Black), "30");
  EXPECT_EQ(to_fg_str(NamedColor::White), "37");
  EXPECT_EQ(to_fg_str(NamedColor::BrightBlack), "90");
  EXPECT_EQ(to_fg_str(NamedColor::BrightRed), "91");
  EXPECT_EQ(to_bg_str(NamedColor::Blue), "44");
  EXPECT_EQ(to_bg_str(NamedColor::BrightWhite), "107");
  EXPECT_EQ(to_fg_str(TrueColor{1, 22, 255}), "38;2;1;22;255");
  EXPECT_EQ(to_bg_str(TrueColor{0, 0, 0}), "48;2;0;0;0");
}

TEST(StyleTest, CodesFollowTableOrderNotBitOrder) {
  EXPECT_EQ(Style{}.to_str(), "");
  EXPECT_EQ(Style{Style::kBold}.to_str(), "1");
  EXPECT_EQ(Style{Style::kUnderline | Style::kDimmed | Style::kBold}.to_str(), "1;2;4");
  EXPECT_EQ(Style{0xFF}.to_str(), "1;2;4;7;3;5;8;9");
}

TEST(ComputeStyleTest, StyleThenBackgroundThenForeground) {
  Paint label{NamedColor::Yellow, std::nullopt, Style{Style::kBold}};
  EXPECT_EQ(compute_style(label, true), "\x1b[1;33m");
  Paint all{NamedColor::Red, NamedColor::BrightBlue, Style{Style::kItalic}};
  EXPECT_EQ(compute_style(all, true), "\x1b[3;104;31m");
  EXPECT_EQ(compute_style(all, false), "");
  EXPECT_EQ(compute_style(Paint{}, true), "");
}

TEST(AppendPaintedTest, WrapsTextAndRestartsAfterInnerResets) {
  std::string line;
  append_painted(line, "12", "\x1b[34m");
  EXPECT_EQ(line, "\x1b[34m12\x1b[0m");
  line.clear();
  append_painted(line, "12", "");
  EXPECT_EQ(line, "12");
  line.clear();
  append_painted(line, "a\x1b[0mb", "\x1b[31m");
  EXPECT_EQ(line, "\x1b[31ma\x1b[0m\x1b[31mb\x1b[0m");
}

// Sets or clears the three colour variables for one case, restoring them.
class ColorEnvironment {
 public:
  ColorEnvironment(std::optional<std::string> clicolor, std::optional<std::string> force,
                   std::optional<std::string> no_color) {
    set("CLICOLOR", clicolor);
    set("CLICOLOR_FORCE", force);
    set("NO_COLOR", no_color);
  }
  ~ColorEnvironment() {
    unsetenv("CLICOLOR");
    unsetenv("CLICOLOR_FORCE");
    unsetenv("NO_COLOR");
  }

 private:
  static void set(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
};

// A real terminal: the pseudo-terminal's secondary side.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    primary_ = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(primary_);
    unlockpt(primary_);
    secondary_ = open(ptsname(primary_), O_RDWR | O_NOCTTY);
  }
  ~PseudoTerminal() {
    close(secondary_);
    close(primary_);
  }
  int fd() const { return secondary_; }

 private:
  int primary_ = -1;
  int secondary_ = -1;
};

struct EnvCase {
  const char* label;
  std::optional<std::string> clicolor;
  std::optional<std::string> force;
  std::optional<std::string> no_color;
  bool on_terminal;
  bool on_pipe;
};

class FromEnvTest : public ::testing::TestWithParam<EnvCase> {};

TEST_P(FromEnvTest, DecidesForTerminalAndPipe) {
  const EnvCase& c = GetParam();
  ColorEnvironment environment(c.clicolor, c.force, c.no_color);
  PseudoTerminal terminal;
  ASSERT_EQ(isatty(terminal.fd()), 1);
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  EXPECT_EQ(ShouldColorize::from_env(terminal.fd()).should_colorize(), c.on_terminal);
  EXPECT_EQ(ShouldColorize::from_env(pipe_ends[1]).should_colorize(), c.on_pipe);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FromEnvTest,
    ::testing::Values(
        EnvCase{"none", {}, {}, {}, true, false},
        EnvCase{"no_color_empty", {}, {}, "", false, false},
        EnvCase{"no_color_zero", {}, {}, "0", false, false},
        EnvCase{"force_one", {}, "1", {}, true, true},
        EnvCase{"force_zero", {}, "0", {}, true, false},
        EnvCase{"force_empty", {}, "", {}, true, true},
        EnvCase{"force_beats_no_color", {}, "1", "1", true, true},
        EnvCase{"clicolor_zero", "0", {}, {}, false, false},
        EnvCase{"clicolor_double_zero", "00", {}, {}, true, false},
        EnvCase{"clicolor_no", "no", {}, {}, true, false},
        EnvCase{"clicolor_zero_forced", "0", "1", {}, true, true},
        EnvCase{"force_not_utf8", {}, "\xff", {}, true, false},
        EnvCase{"no_color_not_utf8", {}, {}, "\xff", true, false},
        EnvCase{"clicolor_not_utf8", "\xff", {}, {}, true, false}),
    [](const ::testing::TestParamInfo<EnvCase>& info) { return info.param.label; });

}  // namespace
}  // namespace keyhound
