#pragma once

#include <tree_sitter/api.h>

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "syntax/position.hpp"

namespace keyhound {

// The first and last rows a node spans.
std::pair<uint32_t, uint32_t> rows_of(TSNode node);

// Where a definition stands in report order: the one that ends first; of
// two that end together, the inner one (which starts later).
struct ReportOrderKey {
  uint32_t end;
  uint32_t after_start;
  auto operator<=>(const ReportOrderKey&) const = default;
};
ReportOrderKey report_order_key(TSNode definition);

// Sorts [first, last) into the report order of the definitions `node_of`
// gives, reading each node once rather than at every comparison.
template <std::random_access_iterator It, typename NodeOf>
void sort_in_report_order(It first, It last, NodeOf node_of) {
  struct Key {
    ReportOrderKey order;
    std::size_t index;
    auto operator<=>(const Key&) const = default;
  };
  const auto count = static_cast<std::size_t>(last - first);
  std::vector<Key> keys;
  keys.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    keys.push_back({report_order_key(node_of(first[static_cast<std::ptrdiff_t>(i)])), i});
  }
  if (std::is_sorted(keys.begin(), keys.end())) return;
  std::sort(keys.begin(), keys.end());
  std::vector<std::iter_value_t<It>> sorted;
  sorted.reserve(count);
  for (const Key& key : keys) sorted.push_back(std::move(first[static_cast<std::ptrdiff_t>(key.index)]));
  std::move(sorted.begin(), sorted.end(), first);
}

// Code-point columns of points of a text's rows, each count moving from
// the last point asked for on the same row: points asked in order along a
// long row cost the bytes between them, not the whole row each.
class CodePointColumns {
 public:
  explicit CodePointColumns(const std::vector<std::string_view>& lines) : lines_(lines) {}
  Position at(TSPoint point);

 private:
  const std::vector<std::string_view>& lines_;
  uint32_t row_ = UINT32_MAX;
  uint32_t byte_ = 0;
  uint32_t count_ = 0;
};

// Positions of nodes with their columns also counted in code points, which
// needs the text of their rows. Each count moves from the last point asked
// for, so that the many ends of nested nodes on one long row cost the bytes
// between them, not the whole row each; starts and ends move separately,
// since nested nodes start on many rows but may all end on one.
class NodePositions {
 public:
  explicit NodePositions(const std::vector<std::string_view>& lines)
      : starts_(lines), ends_(lines) {}

  Position start_of(TSNode node) { return starts_.at(ts_node_start_point(node)); }
  Position end_of(TSNode node) { return ends_.at(ts_node_end_point(node)); }

 private:
  CodePointColumns starts_;
  CodePointColumns ends_;
};

}  // namespace keyhound
