#include "base/utf8.hpp"

#include <cstdint>

namespace keyhound {

bool is_valid_utf8(std::string_view text) noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    // Runs of ASCII are the common case in source code: skip them in words.
    while (i + 8 <= size) {
      uint64_t word;
      __builtin_memcpy(&word, bytes + i, 8);
      if (word & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i >= size) break;
    unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (size - i < length) return false;
    if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

std::size_t utf8_sequence_length(unsigned char lead) noexcept {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

std::size_t valid_utf8_sequence_at(std::string_view text, std::size_t at) noexcept {
  if (at >= text.size()) return 0;
  std::size_t length = utf8_sequence_length(static_cast<unsigned char>(text[at]));
  if (at + length > text.size() || !is_valid_utf8(text.substr(at, length))) return 0;
  return length;
}

char32_t decode_utf8_sequence(std::string_view sequence) noexcept {
  auto lead = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return lead;
  char32_t point = lead & (0x7F >> sequence.size());
  for (std::size_t i = 1; i < sequence.size(); ++i) {
    point = (point << 6) | (static_cast<unsigned char>(sequence[i]) & 0x3F);
  }
  return point;
}

}  // namespace keyhound
