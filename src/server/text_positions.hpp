#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "syntax/editable_tree.hpp"

namespace keyhound {

// How a position's character counts: UTF-16 code units (the protocol's
// default) or bytes of UTF-8, as negotiated at initialisation.
enum class PositionEncoding { Utf16, Utf8 };

// A position as the protocol gives it: 0-based line and character.
struct LinePosition {
  uint32_t line = 0;
  uint32_t character = 0;
};

// Where each line of a text starts. Lines end at "\n"; a "\r" before it
// belongs to the line end, as the parser's rows count them.
class LineStarts {
 public:
  explicit LineStarts(std::string_view text);

  // The same after the bytes [start, end) of the text were replaced by
  // `inserted`: the lines before the edit stay, those after it move, and
  // only the inserted text is read, not the whole text again.
  void replace(uint32_t start, uint32_t end, std::string_view inserted);

  uint32_t count() const { return static_cast<uint32_t>(starts_.size()); }
  // The line's text without its line end. A line past the last is empty.
  std::string_view line(std::string_view text, uint32_t row) const;
  uint32_t start(uint32_t row) const;
  // The row and byte column of a byte offset.
  TextPoint point_of(uint32_t offset) const;

 private:
  std::vector<uint32_t> starts_;
};

// The byte offset of a position, clamped as the protocol says: a
// character past the end of its line means the line's end, a line past the
// last means the end of the text; a character inside a UTF-16 pair means
// the start of that character.
uint32_t offset_of(std::string_view text, const LineStarts& lines, LinePosition position,
                   PositionEncoding encoding);

// The character, in `encoding`, of the byte column `byte_column` of `line`.
uint32_t character_of(std::string_view line, uint32_t byte_column, PositionEncoding encoding);

}  // namespace keyhound
