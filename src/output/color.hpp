#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <variant>

namespace keyhound {

// The sixteen terminal colours, numbered as the SGR codes count them.
enum class NamedColor : uint8_t {
  Black, Red, Green, Yellow, Blue, Magenta, Cyan, White,
  BrightBlack, BrightRed, BrightGreen, BrightYellow,
  BrightBlue, BrightMagenta, BrightCyan, BrightWhite,
};

struct TrueColor {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
};

using Color = std::variant<NamedColor, TrueColor>;

// Text attributes, one bit each.
struct Style {
  static constexpr uint8_t kBold = 0x01;
  static constexpr uint8_t kUnderline = 0x02;
  static constexpr uint8_t kReversed = 0x04;
  static constexpr uint8_t kItalic = 0x08;
  static constexpr uint8_t kBlink = 0x10;
  static constexpr uint8_t kHidden = 0x20;
  static constexpr uint8_t kDimmed = 0x40;
  static constexpr uint8_t kStrikethrough = 0x80;

  uint8_t bits = 0;

  bool empty() const { return bits == 0; }
  // The SGR codes of the set bits, in `STYLES` order, joined with ";".
  std::string to_str() const;
};

// Bits to SGR codes. Codes are always written in this order, not bit order.
inline constexpr std::array<std::pair<uint8_t, std::string_view>, 8> STYLES = {{
    {Style::kBold, "1"},
    {Style::kDimmed, "2"},
    {Style::kUnderline, "4"},
    {Style::kReversed, "7"},
    {Style::kItalic, "3"},
    {Style::kBlink, "5"},
    {Style::kHidden, "8"},
    {Style::kStrikethrough, "9"},
}};

std::string to_fg_str(Color color);
std::string to_bg_str(Color color);

// The colours and attributes of a piece of text, without the text.
struct Paint {
  std::optional<Color> foreground;
  std::optional<Color> background;
  Style style;

  bool is_plain() const { return !foreground && !background && style.empty(); }
};

// Whether the findings report is coloured.
struct ShouldColorize {
  // CLICOLOR does not forbid colour and standard output is a terminal.
  bool terminal_default = false;
  // Colour forced on or off by CLICOLOR_FORCE or NO_COLOR.
  std::optional<bool> forced;

  bool should_colorize() const { return forced ? *forced : terminal_default; }

  // Reads CLICOLOR, CLICOLOR_FORCE and NO_COLOR; `output_fd` is the
  // descriptor whose terminal test counts (standard output for the report).
  static ShouldColorize from_env(int output_fd = STDOUT_FILENO);
};

// The process's one colour decision, made at its first use and then kept.
struct ProcessColorDecision {
  const ShouldColorize& get() const;
};
inline constexpr ProcessColorDecision SHOULD_COLORIZE{};

// The start sequence of a piece: empty when colour is off or nothing is set,
// else ESC "[" style ; background ; foreground "m".
std::string compute_style(const Paint& paint, bool colorize);

inline constexpr std::string_view kResetSequence = "\x1b[0m";

// Appends `text` to `line` wrapped in `start` and the reset, the start
// sequence repeated after every reset inside the text so that the colour
// holds to its end. An empty `start` appends the bare text.
void append_painted(std::string& line, std::string_view text, std::string_view start);

}  // namespace keyhound
