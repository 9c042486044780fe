#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/json_nesting.hpp"
#include "server/text_positions.hpp"

namespace keyhound {

// A member of a JSON object, or null when the value is no object or lacks it.
const nlohmann::json& member(const nlohmann::json& object, const char* key);

// A string member, or nothing.
std::optional<std::string> string_member(const nlohmann::json& object, const char* key);

// A position of the protocol ({line, character}, both unsigned), or nothing.
std::optional<LinePosition> position_of(const nlohmann::json& value);

// A range of the protocol, or nothing.
std::optional<std::pair<LinePosition, LinePosition>> range_of(const nlohmann::json& value);

}  // namespace keyhound
