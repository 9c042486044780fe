#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace keyhound {

// Levenshtein's distance: the fewest single-character insertions, deletions
// and substitutions that turn `a` into `b`.
std::size_t edit_distance(std::string_view a, std::string_view b);

// The candidate nearest to `word` by edit distance, when it is near enough
// to be what was meant: at most a third of the longer of the two (at least
// one edit), ties to the first. "KH0002" finds "KH002", "exlude" "exclude".
std::optional<std::string_view> nearest_by_edits(std::string_view word,
                                                 std::span<const std::string_view> candidates);

}  // namespace keyhound
