#include "formats/json_text.hpp"

#include <cstdint>
#include <cstring>

#include "base/utf8.hpp"

namespace keyhound {

namespace {

// C1 controls, which some terminals act on, and the bidirectional
// embeddings, overrides and isolates, which reorder what a reader sees.
bool is_hidden_control(char32_t point) {
  return (point >= 0x80 && point <= 0x9F) || (point >= 0x202A && point <= 0x202E) ||
         (point >= 0x2066 && point <= 0x2069);
}

void append_unicode_escape(std::string& out, char32_t point) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(point >> shift) & 0xF];
}

constexpr bool is_plain_json_byte(unsigned char byte) {
  return byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
}

// Whether eight bytes are all plain, tested a word at a time: a diagnostic
// text is mostly plain ASCII, and a report of thousands is written at each
// keystroke. A borrow or carry between bytes can only make a plain word
// look otherwise, which costs the byte-wise test, never a wrong escape.
bool all_plain_json_bytes(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHighs = 0x8080808080808080ULL;
  auto below = [&](uint64_t value, unsigned char bound) {
    return ((value - kOnes * bound) & ~value & kHighs) != 0;
  };
  const bool high = ((word | (word + kOnes)) & kHighs) != 0;  // 0x7F and above
  return !high && !below(word, 0x20) && !below(word ^ (kOnes * '"'), 1) &&
         !below(word ^ (kOnes * '\\'), 1);
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    // Printable ASCII other than the quote and the backslash goes as it
    // is, a run at a time: most of any text is that.
    std::size_t plain = i;
    for (uint64_t word = 0; plain + sizeof word <= text.size(); plain += sizeof word) {
      std::memcpy(&word, text.data() + plain, sizeof word);
      if (!all_plain_json_bytes(word)) break;
    }
    while (plain < text.size() && is_plain_json_byte(static_cast<unsigned char>(text[plain]))) {
      ++plain;
    }
    if (plain > i) {
      out.append(text.substr(i, plain - i));
      i = plain;
      continue;
    }
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80) {
      if (std::size_t length = valid_utf8_sequence_at(text, i)) {
        // What a terminal acts on or a reader is misled by goes as an
        // escape, so that a report printed raw shows it for what it is.
        if (char32_t point = decode_utf8_sequence(text.substr(i, length)); is_hidden_control(point)) {
          append_unicode_escape(out, point);
        } else {
          out += text.substr(i, length);
        }
        i += length;
      } else {
        out += "\xEF\xBF\xBD";  // U+FFFD
        ++i;
      }
      continue;
    }
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          append_unicode_escape(out, byte);
        } else {
          out += static_cast<char>(byte);
        }
    }
    ++i;
  }
  out += '"';
}

void JsonObject::key(std::string_view name) {
  if (body_.size() > 1) body_ += ", ";
  append_json_string(body_, name);
  body_ += ": ";
}

JsonObject& JsonObject::string(std::string_view name, std::string_view value) {
  key(name);
  append_json_string(body_, value);
  return *this;
}

JsonObject& JsonObject::number(std::string_view name, uint64_t value) {
  key(name);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::boolean(std::string_view name, bool value) {
  key(name);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::null(std::string_view name) {
  key(name);
  body_ += "null";
  return *this;
}

JsonObject& JsonObject::raw(std::string_view name, std::string_view json) {
  key(name);
  body_ += json;
  return *this;
}

std::string json_location(uint64_t row, uint64_t column) {
  return JsonObject().number("row", row).number("column", column).text();
}

}  // namespace keyhound
