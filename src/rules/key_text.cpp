#include "rules/key_text.hpp"

#include "rules/expression_text.hpp"
#include "syntax/node_access.hpp"
#include "syntax/node_text.hpp"

namespace keyhound {
bool is_identifier_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Where the quoted text opened at `at` ends (one past its closing quote),
// for the quotes compacted texts hold: '...', "...", and their triples.
std::size_t end_of_string(std::string_view text, std::size_t at) {
  char quote = text[at];
  bool triple = text.substr(at, 3) == std::string(3, quote);
  std::size_t i = at + (triple ? 3 : 1);
  while (i < text.size()) {
    if (text[i] == '\\') {
      i += 2;
      continue;
    }
    if (text[i] == quote && (!triple || text.substr(i, 3) == std::string(3, quote))) {
      return i + (triple ? 3 : 1);
    }
    ++i;
  }
  return text.size();
}

bool is_short_text(TSNode node) { return end_byte(node) - start_byte(node) <= kLongestKeyText; }

std::string quoted(std::string_view text) {
  std::string key;
  key.reserve(text.size() + 2);
  key.push_back('"');
  key.append(text);
  key.push_back('"');
  return key;
}

std::string key_text(TSNode index, const PreciseKinds& k, std::string_view source) {
  if (node_kind(index) == k.string && named_child_count(index) == 3) {
    TSNode start = named_child(index, 0);
    TSNode content = named_child(index, 1);
    std::string_view opening = node_text(start, source);
    std::string_view prefix = opening.substr(0, opening.find_first_of("'\""));
    if (node_kind(content) == k.string_content && named_child_count(content) == 0 &&
        (prefix.empty() || prefix == "u" || prefix == "U")) {
      return quoted(node_text(content, source));
    }
  }
  return compact_text(index, source);
}

std::vector<std::string> literal_keys(TSNode dictionary, const PreciseKinds& k,
                                      std::string_view source) {
  std::vector<std::string> keys;
  uint32_t count = named_child_count(dictionary);
  for (uint32_t i = 0; i < count; ++i) {
    TSNode pair = named_child(dictionary, i);
    if (node_kind(pair) != k.pair) continue;
    TSNode key = field_child(pair, k.key);
    if (!is_null(key) && node_kind(key) == k.string && is_short_text(key)) {
      keys.push_back(key_text(key, k, source));
    }
  }
  return keys;
}

bool mentions(std::string_view text, std::string_view bound) {
  if (bound.empty()) return false;
  std::size_t at = 0;
  while (at < text.size()) {
    char c = text[at];
    if (c == '"' || c == '\'') {
      at = end_of_string(text, at);
      continue;
    }
    if (text.compare(at, bound.size(), bound) == 0) {
      bool starts = at == 0 || (!is_identifier_char(text[at - 1]) && text[at - 1] != '.');
      std::size_t end = at + bound.size();
      bool ends = end == text.size() || !is_identifier_char(text[end]);
      if (starts && ends) return true;
    }
    ++at;
  }
  return false;
}

}  // namespace keyhound
