#include "output/display_width.hpp"

#include <algorithm>
#include <vector>

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

namespace {

// Where each code point of a laid-out text starts: its offset in the text
// and its column.
struct CodePointStart {
  std::size_t offset;
  std::size_t column;
};

// The layout of lay_out_line(), noting where each code point starts when
// `starts` is given (and where the text ends, last).
LaidOutLine lay_out(std::string_view line, std::size_t start_byte, std::size_t end_byte,
                    std::vector<CodePointStart>* starts) {
  LaidOutLine laid;
  laid.text.reserve(line.size() + 16);
  std::size_t column = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    if (i == start_byte) laid.start_column = column;
    if (i == end_byte) laid.end_column = column;
    if (starts != nullptr) starts->push_back({laid.text.size(), column});
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
    column += shown == sequence ? code_point_width(decode_utf8_sequence(sequence)) : code_points(shown);
    i += length;
  }
  if (starts != nullptr) starts->push_back({laid.text.size(), column});
  laid.width = column;
  if (start_byte >= line.size()) laid.start_column = column + (start_byte - line.size());
  if (end_byte >= line.size()) laid.end_column = column + (end_byte - line.size());
  return laid;
}

}  // namespace

LaidOutLine lay_out_line(std::string_view line, std::size_t start_byte, std::size_t end_byte) {
  return lay_out(line, start_byte, end_byte, nullptr);
}

namespace {

constexpr std::string_view kCut = "\u2026";  // …, one column

}  // namespace

LaidOutLine lay_out_window(std::string_view line, std::size_t start_byte, std::size_t end_byte,
                           std::size_t width) {
  // A byte shows as at least no column and a code point as at most a
  // tab's eight: this many bytes either side fill any window.
  const std::size_t reach = width * 4;
  std::size_t from = start_byte > reach ? start_byte - reach : 0;
  while (from > 0 && from < line.size() && (static_cast<unsigned char>(line[from]) & 0xC0) == 0x80) {
    ++from;
  }
  const std::size_t to = std::min(line.size(), std::max(start_byte, from) + reach);
  if (from == 0 && to == line.size()) {
    LaidOutLine whole = lay_out_line(line, start_byte, end_byte);
    if (whole.width <= width) return whole;
  }
  const std::string_view slice = line.substr(from, to - from);
  const std::size_t start = start_byte - std::min(start_byte, from);
  const std::size_t end = end_byte > from ? end_byte - from : 0;

  std::vector<CodePointStart> starts;
  const LaidOutLine laid = lay_out(slice, start, end, &starts);
  const std::size_t start_column = laid.start_column;
  const std::size_t end_column = laid.end_column;

  // The window: a third of it before the start, then as far as it goes;
  // at the end of the line, as much before it as fits.
  const std::size_t total = laid.width;
  std::size_t left = start_column > width / 3 ? start_column - width / 3 : 0;
  // Cut on the left, the window holds one column less of the line.
  left = total > width ? std::min(left, total - width + 1) : 0;
  const bool cut_left = left > 0 || from > 0;
  std::size_t right = left + width - (cut_left ? 1 : 0);
  const bool cut_right = right < total || to < line.size();
  if (cut_right) --right;

  // Whole code points only: the first that starts in the window, the last
  // that ends in it.
  auto first = std::lower_bound(starts.begin(), starts.end(), left,
                                [](const CodePointStart& s, std::size_t c) { return s.column < c; });
  auto last = first;
  while (last + 1 < starts.end() && (last + 1)->column <= right) ++last;
  const std::size_t shown_left = first->column;
  const std::size_t shown_right = last->column;
  const std::size_t lead = cut_left ? 1 : 0;

  LaidOutLine window;
  if (cut_left) window.text += kCut;
  window.text.append(laid.text, first->offset, last->offset - first->offset);
  if (cut_right) window.text += kCut;
  window.start_column = lead + (std::max(start_column, shown_left) - shown_left);
  window.end_column =
      lead + (std::clamp(end_column, shown_left, shown_right) - shown_left);
  window.width = lead + (shown_right - shown_left) + (cut_right ? 1 : 0);
  return window;
}

}  // namespace keyhound
