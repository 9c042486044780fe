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

}  // namespace keyhound
