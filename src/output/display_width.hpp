#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace keyhound {

// The columns a terminal gives a code point: two for East Asian wide and
// fullwidth characters, none for combining marks and format characters,
// one for the rest.
std::size_t code_point_width(char32_t point);

// An excerpt line laid out for carets that sit under what they mark: made
// terminal-safe, each tab expanded to the next multiple of 8, with the
// display columns of two byte offsets of the source line (an offset past
// its end counts one column a byte beyond it).
struct LaidOutLine {
  std::string text;
  std::size_t start_column = 0;
  std::size_t end_column = 0;
  // The width of the whole line.
  std::size_t width = 0;
};
LaidOutLine lay_out_line(std::string_view line, std::size_t start_byte, std::size_t end_byte);

// The same for a line that may be long: when the line is wider than
// `width` columns, only a window of that width around what starts at
// `start_byte` is shown, with "…" where it was cut, as Clang shows a long
// line. The work is bounded by the window, not the line, so that a line of
// thousands of lookups costs each of them the same.
LaidOutLine lay_out_window(std::string_view line, std::size_t start_byte, std::size_t end_byte,
                           std::size_t width);

}  // namespace keyhound
