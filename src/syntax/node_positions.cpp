#include "syntax/node_positions.hpp"

#include <algorithm>

#include "syntax/source_lines.hpp"

namespace keyhound {

std::pair<uint32_t, uint32_t> rows_of(TSNode node) {
  return {ts_node_start_point(node).row, ts_node_end_point(node).row};
}

ReportOrderKey report_order_key(TSNode definition) {
  return {ts_node_end_byte(definition), UINT32_MAX - ts_node_start_byte(definition)};
}

Position CodePointColumns::at(TSPoint point) {
  std::string_view line = line_at(lines_, point.row);
  uint32_t bytes = std::min<uint32_t>(point.column, static_cast<uint32_t>(line.size()));
  if (point.row != row_) {
    row_ = point.row;
    byte_ = 0;
    count_ = 0;
  }
  auto starts_code_point = [&](uint32_t i) {
    return (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
  };
  for (; byte_ < bytes; ++byte_) count_ += starts_code_point(byte_) ? 1 : 0;
  for (; byte_ > bytes; --byte_) count_ -= starts_code_point(byte_ - 1) ? 1 : 0;
  // A column past the line's end (a node ending at a line feed) counts on.
  uint32_t beyond = point.column > bytes ? point.column - bytes : 0;
  return {point.row, point.column, count_ + beyond};
}

}  // namespace keyhound
