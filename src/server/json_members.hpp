#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "server/text_positions.hpp"

namespace keyhound {

// How deep the arrays and objects of a message may nest. The JSON tree is
// built, written and taken apart by recursion, so a deeper message (a
// megabyte of `[`) would overflow the stack: it is refused unread.
inline constexpr std::size_t kDeepestNesting = 256;

// Whether the JSON text `text` nests arrays and objects deeper than
// `limit`, strings aside.
bool nests_deeper_than(std::string_view text, std::size_t limit);

// A member of a JSON object, or null when the value is no object or lacks it.
const nlohmann::json& member(const nlohmann::json& object, const char* key);

// A string member, or nothing.
std::optional<std::string> string_member(const nlohmann::json& object, const char* key);

// A position of the protocol ({line, character}, both unsigned), or nothing.
std::optional<LinePosition> position_of(const nlohmann::json& value);

// A range of the protocol, or nothing.
std::optional<std::pair<LinePosition, LinePosition>> range_of(const nlohmann::json& value);

}  // namespace keyhound
