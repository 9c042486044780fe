#pragma once

#include <string_view>

namespace keyhound {

// The function table's entry for the code outside every function, and the
// name its findings are recorded under.
inline constexpr std::string_view kModuleEntryName = "<module>";

}  // namespace keyhound
