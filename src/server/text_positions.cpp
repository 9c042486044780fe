#include "server/text_positions.hpp"

#include <algorithm>

namespace keyhound {

namespace {

// The length in bytes of the UTF-8 sequence starting at `text[i]` and its
// length in UTF-16 code units. A byte that starts no valid sequence counts
// as one of each, the way a lenient decoder replaces it.
std::pair<uint32_t, uint32_t> code_point_at(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  uint32_t length = lead < 0x80 ? 1 : lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3
                                   : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || i + length > text.size()) return {1, 1};
  for (uint32_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return {1, 1};
  }
  return {length, length == 4 ? 2u : 1u};
}

}  // namespace

LineStarts::LineStarts(std::string_view text) {
  starts_.push_back(0);
  for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
    starts_.push_back(static_cast<uint32_t>(i + 1));
  }
}

void LineStarts::replace(uint32_t start, uint32_t end, std::string_view inserted) {
  // The lines that began inside the replaced bytes go; the first line is
  // never among them (it begins at 0, before any edit's end).
  auto first_gone = std::upper_bound(starts_.begin(), starts_.end(), start);
  auto first_after = std::upper_bound(first_gone, starts_.end(), end);
  std::vector<uint32_t> added;
  for (std::size_t i = inserted.find('\n'); i != std::string_view::npos;
       i = inserted.find('\n', i + 1)) {
    added.push_back(static_cast<uint32_t>(start + i + 1));
  }
  // Unsigned arithmetic wraps the other way for text taken out.
  const uint32_t moved_by = static_cast<uint32_t>(inserted.size()) - (end - start);
  for (auto line = first_after; line != starts_.end(); ++line) *line += moved_by;
  const auto at = starts_.erase(first_gone, first_after);
  starts_.insert(at, added.begin(), added.end());
}

uint32_t LineStarts::start(uint32_t row) const {
  return row < starts_.size() ? starts_[row] : starts_.back();
}

std::string_view LineStarts::line(std::string_view text, uint32_t row) const {
  if (row >= starts_.size()) return {};
  const uint32_t begin = starts_[row];
  uint32_t end = row + 1 < starts_.size() ? starts_[row + 1] - 1 : static_cast<uint32_t>(text.size());
  if (end > begin && text[end - 1] == '\r' && row + 1 < starts_.size()) --end;
  return text.substr(begin, end - begin);
}

TextPoint LineStarts::point_of(uint32_t offset) const {
  auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const auto row = static_cast<uint32_t>(after - starts_.begin() - 1);
  return TextPoint{row, offset - starts_[row]};
}

uint32_t offset_of(std::string_view text, const LineStarts& lines, LinePosition position,
                   PositionEncoding encoding) {
  if (position.line >= lines.count()) return static_cast<uint32_t>(text.size());
  const std::string_view line = lines.line(text, position.line);
  const uint32_t start = lines.start(position.line);
  if (encoding == PositionEncoding::Utf8) {
    return start + std::min<uint32_t>(position.character, static_cast<uint32_t>(line.size()));
  }
  uint32_t units = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    auto [bytes, width] = code_point_at(line, i);
    if (units + width > position.character) break;
    units += width;
    i += bytes;
  }
  return start + static_cast<uint32_t>(i);
}

uint32_t character_of(std::string_view line, uint32_t byte_column, PositionEncoding encoding) {
  const std::size_t end = std::min<std::size_t>(byte_column, line.size());
  if (encoding == PositionEncoding::Utf8) return static_cast<uint32_t>(byte_column);
  // An ASCII byte is one unit: most of a line before a finding is that.
  std::size_t i = 0;
  while (i < end && static_cast<unsigned char>(line[i]) < 0x80) ++i;
  auto units = static_cast<uint32_t>(i);
  while (i < end) {
    auto [bytes, width] = code_point_at(line, i);
    units += width;
    i += bytes;
  }
  return units;
}

}  // namespace keyhound
