#pragma once

#include <tree_sitter/api.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "syntax/position.hpp"

namespace keyhound {

// The first and last rows a node spans.
std::pair<uint32_t, uint32_t> rows_of(TSNode node);

// Report order of two definitions: the one that ends first; of two that end
// together, the inner one (which starts later).
bool reported_before(TSNode a, TSNode b);

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
