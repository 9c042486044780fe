#include "output/terminal_text.hpp"

namespace keyhound {
namespace {

void append_control_picture(std::string& out, unsigned char byte) {
  char32_t picture = byte == 0x7F ? U'\u2421' : U'\u2400' + byte;
  // Every picture lies in U+2400..U+2421: three bytes of UTF-8.
  out += static_cast<char>(0xE0 | (picture >> 12));
  out += static_cast<char>(0x80 | ((picture >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (picture & 0x3F));
}

void append_code_point_escape(std::string& out, char32_t point) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "<U+";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(point >> shift) & 0xF];
  out += '>';
}

void append_safe(std::string& out, std::string_view text, bool keep_tabs) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  out.reserve(out.size() + size);
  for (std::size_t i = 0; i < size; ++i) {
    unsigned char byte = bytes[i];
    if (byte < 0x20 || byte == 0x7F) {
      if (byte == '\t' && keep_tabs) {
        out += '\t';
      } else {
        append_control_picture(out, byte);
      }
      continue;
    }
    // C1 controls: C2 80 to C2 9F.
    if (byte == 0xC2 && i + 1 < size && bytes[i + 1] >= 0x80 && bytes[i + 1] <= 0x9F) {
      append_code_point_escape(out, bytes[i + 1]);
      ++i;
      continue;
    }
    // U+202A..U+202E are E2 80 AA..AE; U+2066..U+2069 are E2 81 A6..A9.
    if (byte == 0xE2 && i + 2 < size) {
      unsigned char second = bytes[i + 1];
      unsigned char third = bytes[i + 2];
      bool embedding = second == 0x80 && third >= 0xAA && third <= 0xAE;
      bool isolate = second == 0x81 && third >= 0xA6 && third <= 0xA9;
      if (embedding || isolate) {
        append_code_point_escape(out, 0x2000 + ((second & 0x3F) << 6) + (third & 0x3F));
        i += 2;
        continue;
      }
    }
    out += static_cast<char>(byte);
  }
}

}  // namespace

void append_terminal_safe_source(std::string& out, std::string_view text) {
  append_safe(out, text, true);
}

void append_terminal_safe_name(std::string& out, std::string_view text) {
  append_safe(out, text, false);
}

std::string terminal_safe_name(std::string_view text) {
  std::string out;
  append_safe(out, text, false);
  return out;
}

}  // namespace keyhound
