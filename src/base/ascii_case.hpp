#pragma once

#include <string>
#include <string_view>

namespace keyhound {

// `text` with ASCII capitals made small, every other byte as it is: for
// names that compare without case (git's keys, codec names, `noqa`).
inline std::string ascii_lowercase(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

}  // namespace keyhound
