#include "syntax/token_text.hpp"

#include <algorithm>

#include "syntax/node_text.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/tree_sitter_handles.hpp"

#include <utility>
#include <vector>

namespace keyhound {

namespace {

// A text with no white space, comment or backslash, which both texts
// below show as it is when it fits: most lookups (`cfg['port'][key]`).
bool is_plain(std::string_view text) {
  for (char c : text) {
    switch (c) {
      case ' ': case '\t': case '\n': case '\r': case '\f': case '\\': case '#':
        return false;
      default:
        break;
    }
  }
  return true;
}

}  // namespace

std::string token_text(TSNode node, std::string_view source, std::size_t longest) {
  std::string_view text = node_text(node, source);
  if (text.size() <= longest && is_plain(text)) return std::string(text);
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

namespace {

std::string display_of(std::string_view text, std::size_t most_characters) {
  // Its bytes fit, so its characters do.
  if (text.size() <= most_characters && is_plain(text)) return std::string(text);
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

// Nodes whose brackets a collapsed lookup may show as "(…)".
bool is_bracketed(std::string_view kind) {
  return kind == "argument_list" || kind == "parenthesized_expression" || kind == "list" ||
         kind == "dictionary" || kind == "set" || kind == "tuple" || kind == "list_comprehension" ||
         kind == "dictionary_comprehension" || kind == "set_comprehension" ||
         kind == "generator_expression";
}

// The most nodes looked at for brackets to collapse: a lookup nested
// thousands deep costs no more than a plain one.
constexpr std::size_t kMostNodesLooked = 2048;

}  // namespace

std::string display_text(TSNode node, std::string_view source, std::size_t most_characters) {
  return display_of(node_text(node, source), most_characters);
}

std::string display_lookup(TSNode subscript, std::string_view source,
                           std::size_t most_characters) {
  // On one row, so is its value: no need to look the value up.
  if (ts_node_start_point(subscript).row == ts_node_end_point(subscript).row) {
    return display_text(subscript, source, most_characters);
  }
  const TSNode value = ts_node_child_by_field_id(subscript, python_grammar().value_field);
  if (ts_node_is_null(value) || ts_node_start_point(value).row == ts_node_end_point(value).row) {
    return display_text(subscript, source, most_characters);
  }
  // The value's bracketed parts that span rows, outermost first, by byte.
  std::vector<std::pair<uint32_t, uint32_t>> collapsed;
  TreeCursor cursor(value);
  std::size_t looked = 0;
  bool descend = true;
  for (;;) {
    if (++looked > kMostNodesLooked) break;
    const TSNode node = cursor.node();
    descend = true;
    if (ts_node_start_point(node).row != ts_node_end_point(node).row &&
        is_bracketed(ts_node_type(node)) && ts_node_end_byte(node) - ts_node_start_byte(node) >= 2) {
      collapsed.emplace_back(ts_node_start_byte(node), ts_node_end_byte(node));
      descend = false;
    }
    if (descend && cursor.goto_first_child()) continue;
    bool moved = false;
    while (!moved) {
      if (cursor.goto_next_sibling()) {
        moved = true;
      } else if (!cursor.goto_parent()) {
        break;
      }
    }
    if (!moved) break;
  }
  // The lookup's text with each of those parts as its brackets around "…".
  const uint32_t begin = ts_node_start_byte(subscript);
  const uint32_t end = ts_node_end_byte(subscript);
  std::string shown;
  uint32_t at = begin;
  for (const auto& [from, to] : collapsed) {
    shown.append(source.substr(at, from - at));
    shown += source[from];
    shown += "\u2026";
    shown += source[to - 1];
    at = to;
  }
  shown.append(source.substr(at, end - at));
  return display_of(shown, most_characters);
}

std::optional<TSPoint> subscript_bracket(TSNode subscript) {
  // The bracket follows the value: the first `[` among the children.
  const uint32_t count = ts_node_child_count(subscript);
  for (uint32_t i = 0; i < count; ++i) {
    const TSNode child = ts_node_child(subscript, i);
    if (!ts_node_is_named(child) && std::string_view(ts_node_type(child)) == "[") {
      return ts_node_start_point(child);
    }
  }
  return std::nullopt;
}

}  // namespace keyhound
