#pragma once

#include <tree_sitter/api.h>

#include <string_view>

namespace keyhound {

// The bytes of `source` that `node` spans, exactly as written. `source` must
// be the text the node's tree was parsed from; the view lives as long as it.
inline std::string_view node_text(TSNode node, std::string_view source) {
  uint32_t start = ts_node_start_byte(node);
  uint32_t end = ts_node_end_byte(node);
  if (start > source.size()) return {};
  if (end > source.size()) end = static_cast<uint32_t>(source.size());
  if (end < start) return {};
  return source.substr(start, end - start);
}

}  // namespace keyhound
