#include "cli/jaro.hpp"

#include <algorithm>
#include <vector>

#include "base/utf8.hpp"

namespace keyhound {
namespace {

// Code points of a UTF-8 text; a byte that starts no valid sequence stands
// for itself, which is all a similarity measure needs.
std::vector<char32_t> code_points(std::string_view text) {
  std::vector<char32_t> points;
  for (std::size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = utf8_sequence_length(lead);
    if (i + length > text.size()) length = 1;
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    points.push_back(point);
    i += length;
  }
  return points;
}

}  // namespace

double jaro_similarity(std::string_view a_text, std::string_view b_text) {
  std::vector<char32_t> a = code_points(a_text);
  std::vector<char32_t> b = code_points(b_text);
  if (a.empty() && b.empty()) return 1.0;
  if (a.empty() || b.empty()) return 0.0;

  std::size_t window = std::max(a.size(), b.size()) / 2;
  window = window > 0 ? window - 1 : 0;
  std::vector<bool> a_matched(a.size(), false);
  std::vector<bool> b_matched(b.size(), false);
  std::size_t matches = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    std::size_t from = i > window ? i - window : 0;
    std::size_t to = std::min(b.size(), i + window + 1);
    for (std::size_t j = from; j < to; ++j) {
      if (!b_matched[j] && a[i] == b[j]) {
        a_matched[i] = b_matched[j] = true;
        ++matches;
        break;
      }
    }
  }
  if (matches == 0) return 0.0;

  std::size_t half_transpositions = 0;
  for (std::size_t i = 0, j = 0; i < a.size(); ++i) {
    if (!a_matched[i]) continue;
    while (!b_matched[j]) ++j;
    if (a[i] != b[j]) ++half_transpositions;
    ++j;
  }
  double m = static_cast<double>(matches);
  double t = static_cast<double>(half_transpositions / 2);
  return (m / static_cast<double>(a.size()) + m / static_cast<double>(b.size()) + (m - t) / m) / 3.0;
}

}  // namespace keyhound
