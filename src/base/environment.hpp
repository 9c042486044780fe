#pragma once

#include <cstdlib>
#include <optional>
#include <string_view>

#include "base/utf8.hpp"

namespace keyhound {

// The value of an environment variable; one whose value is not UTF-8 counts
// as unset, as an absent one does.
inline std::optional<std::string_view> environment_value(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  std::string_view text(value);
  if (!is_valid_utf8(text)) return std::nullopt;
  return text;
}

}  // namespace keyhound
