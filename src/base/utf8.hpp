#pragma once

#include <string_view>

namespace keyhound {

// Strict UTF-8: overlong forms, surrogates (U+D800 to U+DFFF) and code
// points above U+10FFFF are rejected.
bool is_valid_utf8(std::string_view text) noexcept;

}  // namespace keyhound
