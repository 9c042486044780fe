#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <tree_sitter/api.h>

namespace keyhound {

// `V.get(K)` in place of the lookup `V[K]` that spans exactly
// [start_byte, end_byte) of `source`. Nothing when the node there is not a
// lookup with one plain key (a slice or a tuple of keys has no `get`), or
// when its value is not read: the target of an assignment, of an augmented
// assignment, of a `for`, or what `del` deletes.
std::optional<std::string> get_call_rewrite(TSNode root, std::string_view source,
                                            uint32_t start_byte, uint32_t end_byte);

}  // namespace keyhound
