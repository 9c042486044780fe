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

// Whether a byte may start something that is shown otherwise: a C0
// control or DEL, or the lead byte of a C1 control or a reordering mark.
bool may_need_escape(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F || byte == 0xC2 || byte == 0xE2;
}

void append_safe(std::string& out, std::string_view text, bool keep_tabs) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  out.reserve(out.size() + size);
  // Runs of ordinary bytes go in whole: a long line is copied, not
  // appended a byte at a time.
  std::size_t run = 0;
  for (std::size_t i = 0; i < size; ++i) {
    unsigned char byte = bytes[i];
    if (!may_need_escape(byte)) continue;
    if (byte < 0x20 || byte == 0x7F) {
      out.append(text.data() + run, i - run);
      run = i + 1;
      if (byte == '\t' && keep_tabs) {
        out += '\t';
      } else {
        append_control_picture(out, byte);
      }
      continue;
    }
    // C1 controls: C2 80 to C2 9F.
    if (byte == 0xC2 && i + 1 < size && bytes[i + 1] >= 0x80 && bytes[i + 1] <= 0x9F) {
      out.append(text.data() + run, i - run);
      append_code_point_escape(out, bytes[i + 1]);
      ++i;
      run = i + 1;
      continue;
    }
    // U+202A..U+202E are E2 80 AA..AE; U+2066..U+2069 are E2 81 A6..A9.
    if (byte == 0xE2 && i + 2 < size) {
      unsigned char second = bytes[i + 1];
      unsigned char third = bytes[i + 2];
      bool embedding = second == 0x80 && third >= 0xAA && third <= 0xAE;
      bool isolate = second == 0x81 && third >= 0xA6 && third <= 0xA9;
      if (embedding || isolate) {
        out.append(text.data() + run, i - run);
        append_code_point_escape(out, 0x2000 + ((second & 0x3F) << 6) + (third & 0x3F));
        i += 2;
        run = i + 1;
        continue;
      }
    }
  }
  out.append(text.data() + run, size - run);
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
