#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace keyhound {

// A file's text cut into lines, indexed by 0-based row. A line feed ends a
// line and is not part of it, nor is a carriage return right before it;
// text after the last line feed is one more line, but a final line feed
// leaves no empty last line. The lines are views into the text.
std::vector<std::string_view> source_lines(std::string_view text);

// The line at `row`, or the empty text for a row beyond the last line.
inline std::string_view line_at(const std::vector<std::string_view>& lines, std::size_t row) {
  return row < lines.size() ? lines[row] : std::string_view{};
}

}  // namespace keyhound
