#include "base/edit_distance.hpp"

#include <algorithm>
#include <vector>

namespace keyhound {

std::size_t edit_distance(std::string_view a, std::string_view b) {
  // One row of the table at a time.
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::optional<std::string_view> nearest_by_edits(std::string_view word,
                                                 std::span<const std::string_view> candidates) {
  std::optional<std::string_view> best;
  std::size_t fewest = SIZE_MAX;
  for (std::string_view candidate : candidates) {
    const std::size_t distance = edit_distance(word, candidate);
    const std::size_t allowed = std::max<std::size_t>(1, std::max(word.size(), candidate.size()) / 3);
    if (distance <= allowed && distance < fewest) {
      fewest = distance;
      best = candidate;
    }
  }
  return best;
}

}  // namespace keyhound
