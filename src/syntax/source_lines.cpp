#include "syntax/source_lines.hpp"

namespace keyhound {

std::vector<std::string_view> source_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t feed = text.find('\n', start);
    if (feed == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    std::size_t end = feed;
    if (end > start && text[end - 1] == '\r') --end;
    lines.push_back(text.substr(start, end - start));
    start = feed + 1;
  }
  return lines;
}

}  // namespace keyhound
