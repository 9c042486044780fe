#pragma once

#include <cstdint>

namespace keyhound {

// A place in a file as the syntax tree gives it: both parts 0-based, the
// column counted in bytes from the start of the row (not characters, not
// display cells). Shown to the user as row + 1 and byte_column + 1.
struct Position {
  uint32_t row = 0;
  uint32_t byte_column = 0;
  // The same column counted in Unicode code points, for the formats that
  // editors and code-scanning services read.
  uint32_t code_point_column = 0;
};

}  // namespace keyhound
