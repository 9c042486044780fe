#include "output/stylesheet.hpp"

#include "output/color.hpp"

namespace keyhound {
namespace {

// The report's form: ESC "[1;33m", attributes and colours in one sequence.
Role combined(Paint paint) { return Role{compute_style(paint, true)}; }

// The command-line outputs' form: ESC "[1m" ESC "[4m" ... then the colour.
Role separate(Paint paint) {
  std::string start;
  for (const auto& [bit, code] : STYLES) {
    if ((paint.style.bits & bit) == 0) continue;
    start += "\x1b[";
    start += code;
    start += 'm';
  }
  if (paint.foreground) {
    start += "\x1b[";
    start += to_fg_str(*paint.foreground);
    start += 'm';
  }
  return Role{start};
}

Stylesheet make_styled() {
  const Style bold{Style::kBold};
  return Stylesheet{
      .warning_label = combined({NamedColor::Yellow, std::nullopt, bold}),
      .gutter = combined({NamedColor::Blue, std::nullopt, Style{}}),
      .caret = combined({NamedColor::BrightRed, std::nullopt, Style{}}),
      .error = separate({NamedColor::Red, std::nullopt, bold}),
      .heading = separate({std::nullopt, std::nullopt, Style{Style::kBold | Style::kUnderline}}),
      .literal = separate({std::nullopt, std::nullopt, bold}),
      .valid = separate({NamedColor::Green, std::nullopt, Style{}}),
      .invalid = separate({NamedColor::Yellow, std::nullopt, Style{}}),
  };
}

}  // namespace

const Stylesheet& Stylesheet::plain() {
  static const Stylesheet sheet{};
  return sheet;
}

const Stylesheet& Stylesheet::styled() {
  static const Stylesheet sheet = make_styled();
  return sheet;
}

void append_styled(std::string& line, std::string_view text, const Role& role) {
  append_painted(line, text, role.start);
}

}  // namespace keyhound
