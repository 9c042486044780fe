#pragma once

#include <cstddef>
#include <string_view>

namespace keyhound {

// Strict UTF-8: overlong forms, surrogates (U+D800 to U+DFFF) and code
// points above U+10FFFF are rejected.
bool is_valid_utf8(std::string_view text) noexcept;

// The length of the sequence a byte leads, as its high bits claim it: 1
// for ASCII and for a byte that leads none (a continuation byte).
std::size_t utf8_sequence_length(unsigned char lead) noexcept;

// The length of the valid sequence that starts at text[at], or 0 when none
// does.
std::size_t valid_utf8_sequence_at(std::string_view text, std::size_t at) noexcept;

// The code point of one valid sequence (as valid_utf8_sequence_at found it).
char32_t decode_utf8_sequence(std::string_view sequence) noexcept;

}  // namespace keyhound
