#include "syntax/token_text.hpp"

#include <algorithm>

#include "syntax/node_text.hpp"

namespace keyhound {

std::string token_text(TSNode node, std::string_view source, std::size_t longest) {
  std::string_view text = node_text(node, source);
  std::string joined;
  std::size_t i = 0;
  while (i < text.size() && joined.size() <= longest) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\\') {
      ++i;  // blanks, and the backslash of a continuation (strings are read whole)
    } else if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (c == '"' || c == '\'') {
      bool triple = text.substr(i, 3) == std::string(3, c);
      std::size_t quote = triple ? 3 : 1;
      std::size_t end = i + quote;
      while (end < text.size()) {
        if (text[end] == '\\') {
          end += 2;
        } else if (text.substr(end, quote) == std::string(quote, c)) {
          end += quote;
          break;
        } else {
          ++end;
        }
      }
      end = std::min(end, text.size());
      joined += text.substr(i, end - i);
      i = end;
    } else {
      joined += c;
      ++i;
    }
  }
  if (joined.size() <= longest) return joined;
  joined.resize(longest);
  // Never end inside a UTF-8 sequence.
  while (!joined.empty() && (static_cast<unsigned char>(joined.back()) & 0xC0) == 0x80) {
    joined.pop_back();
  }
  if (!joined.empty() && static_cast<unsigned char>(joined.back()) >= 0xC0) joined.pop_back();
  return joined + "...";
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Builds the one-line text, counting code points, and notes where it had
// to stop.
class ShownText {
 public:
  explicit ShownText(std::size_t most) : most_(most) {}

  bool full() const { return cut_; }
  // White space in code; none is kept just inside brackets or before a
  // comma, where a line break in a call leaves it ("g(\n    d)" is "g(d)").
  void gap() {
    if (!text_.empty() && text_.back() != '(' && text_.back() != '[' && text_.back() != '{') {
      gap_ = Gap::InCode;
    }
  }
  // White space inside a string, always kept as one space.
  void string_gap() { gap_ = Gap::InString; }
  void add(char c) {
    if (cut_) return;
    const bool starts_character = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (gap_ == Gap::InCode && (c == ')' || c == ']' || c == '}' || c == ',')) gap_ = Gap::None;
    if (starts_character && gap_ != Gap::None) {
      if (!take_character()) return;
      text_ += ' ';
      gap_ = Gap::None;
    }
    if (starts_character && !take_character()) return;
    text_ += c;
  }
  std::string take() {
    if (!cut_) return std::move(text_);
    // The last character kept gives way to the ellipsis.
    while (!text_.empty() && (static_cast<unsigned char>(text_.back()) & 0xC0) == 0x80) {
      text_.pop_back();
    }
    if (!text_.empty()) text_.pop_back();
    while (!text_.empty() && text_.back() == ' ') text_.pop_back();
    return text_ + "\u2026";
  }

 private:
  bool take_character() {
    if (characters_ == most_) {
      cut_ = true;
      return false;
    }
    ++characters_;
    return true;
  }
  enum class Gap { None, InCode, InString };
  std::size_t most_;
  std::size_t characters_ = 0;
  Gap gap_ = Gap::None;
  bool cut_ = false;
  std::string text_;
};

}  // namespace

std::string display_text(TSNode node, std::string_view source, std::size_t most_characters) {
  std::string_view text = node_text(node, source);
  ShownText shown(most_characters);
  std::size_t i = 0;
  while (i < text.size() && !shown.full()) {
    const char c = text[i];
    if (is_blank(c) || (c == '\\' && i + 1 < text.size() && is_blank(text[i + 1]))) {
      shown.gap();
      ++i;
    } else if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
      shown.gap();
    } else if (c == '"' || c == '\'') {
      const bool triple = text.substr(i, 3) == std::string(3, c);
      const std::string_view quote = text.substr(i, triple ? 3 : 1);
      for (std::size_t k = 0; k < quote.size(); ++k) shown.add(c);
      std::size_t at = i + quote.size();
      while (at < text.size() && !shown.full()) {
        if (text.substr(at, quote.size()) == quote) {
          at += quote.size();
          for (std::size_t k = 0; k < quote.size(); ++k) shown.add(c);
          break;
        }
        if (text[at] == '\\' && at + 1 < text.size() && !is_blank(text[at + 1])) {
          shown.add(text[at++]);
          shown.add(text[at++]);
        } else if (is_blank(text[at])) {
          while (at < text.size() && is_blank(text[at])) ++at;
          shown.string_gap();
        } else {
          shown.add(text[at++]);
        }
      }
      i = at;
    } else {
      shown.add(c);
      ++i;
    }
  }
  return shown.take();
}

}  // namespace keyhound
