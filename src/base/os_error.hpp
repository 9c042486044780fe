#pragma once

#include <cstring>
#include <string>

namespace keyhound {

// "{description} (os error {number})", the description from strerror.
inline std::string os_error_text(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be `buffer`.
  const char* description = strerror_r(error, buffer, sizeof buffer);
  return std::string(description) + " (os error " + std::to_string(error) + ")";
}

}  // namespace keyhound
