#pragma once

#include <string_view>

namespace keyhound {

inline constexpr std::string_view kCommandName = "keyhound";
inline constexpr std::string_view kVersion = "0.1.3";

}  // namespace keyhound
