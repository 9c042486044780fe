#include "output/display_width.hpp"

#include <algorithm>

#include "base/utf8.hpp"
#include "output/display_width_table.hpp"
#include "output/terminal_text.hpp"

namespace keyhound {
namespace {

constexpr std::size_t kTabStop = 8;

bool in_ranges(std::span<const CodePointRange> ranges, char32_t point) {
  auto after = std::upper_bound(ranges.begin(), ranges.end(), point,
                                [](char32_t p, const CodePointRange& range) { return p < range.first; });
  return after != ranges.begin() && point <= (after - 1)->last;
}

char32_t decode(std::string_view sequence) {
  auto lead = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return lead;
  char32_t point = lead & (0x7F >> sequence.size());
  for (std::size_t i = 1; i < sequence.size(); ++i) {
    point = (point << 6) | (static_cast<unsigned char>(sequence[i]) & 0x3F);
  }
  return point;
}

std::size_t code_points(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

std::size_t code_point_width(char32_t point) {
  if (point < 0x300) return 1;
  if (in_ranges(zero_width_ranges(), point)) return 0;
  return in_ranges(wide_ranges(), point) ? 2 : 1;
}

LaidOutLine lay_out_line(std::string_view line, std::size_t start_byte, std::size_t end_byte) {
  LaidOutLine laid;
  laid.text.reserve(line.size() + 16);
  std::size_t column = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    if (i == start_byte) laid.start_column = column;
    if (i == end_byte) laid.end_column = column;
    if (line[i] == '\t') {
      std::size_t next = (column / kTabStop + 1) * kTabStop;
      laid.text.append(next - column, ' ');
      column = next;
      ++i;
      continue;
    }
    // A byte that starts no valid sequence is shown as the one byte it is.
    std::size_t length = std::max<std::size_t>(valid_utf8_sequence_at(line, i), 1);
    std::string_view sequence = line.substr(i, length);
    const std::size_t before = laid.text.size();
    append_terminal_safe_name(laid.text, sequence);
    std::string_view shown = std::string_view(laid.text).substr(before);
    // What was replaced (a control character, a reordering mark) is as
    // wide as its replacement, which is narrow text.
    column += shown == sequence ? code_point_width(decode(sequence)) : code_points(shown);
    i += length;
  }
  laid.width = column;
  if (start_byte >= line.size()) laid.start_column = column + (start_byte - line.size());
  if (end_byte >= line.size()) laid.end_column = column + (end_byte - line.size());
  return laid;
}

}  // namespace keyhound
