#include "syntax/tokenizer_text.hpp"

#include <algorithm>

namespace keyhound {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool has_lone_carriage_return(std::string_view text) {
  for (std::size_t at = text.find('\r'); at != std::string_view::npos;
       at = text.find('\r', at + 1)) {
    if (at + 1 == text.size() || text[at + 1] != '\n') return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> as_tokenized(std::string_view source) {
  const bool bom = source.starts_with(kByteOrderMark);
  if (bom) source.remove_prefix(kByteOrderMark.size());
  const bool lone = has_lone_carriage_return(source);
  if (!bom && !lone) return std::nullopt;
  std::string text(source);
  if (lone) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) text[i] = '\n';
    }
  }
  return text;
}

std::string with_original_line_ends(std::string_view original, std::string_view edited) {
  std::string restored;
  restored.reserve(edited.size() + kByteOrderMark.size());
  if (original.starts_with(kByteOrderMark)) {
    original.remove_prefix(kByteOrderMark.size());
    if (!edited.starts_with(kByteOrderMark)) restored += kByteOrderMark;
  }
  if (!has_lone_carriage_return(original)) {
    restored += edited;
    return restored;
  }
  // The k-th line feed of the edit is the k-th line end of the original,
  // which was a lone carriage return or a line feed.
  std::size_t original_at = 0;
  for (char c : edited) {
    if (c != '\n') {
      restored += c;
      continue;
    }
    while (original_at < original.size() && original[original_at] != '\n' &&
           !(original[original_at] == '\r' &&
             (original_at + 1 == original.size() || original[original_at + 1] != '\n'))) {
      ++original_at;
    }
    restored += original_at < original.size() ? original[original_at] : '\n';
    ++original_at;
  }
  return restored;
}

}  // namespace keyhound
