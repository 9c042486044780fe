#include "server/json_members.hpp"

#include <limits>

namespace keyhound {

const nlohmann::json& member(const nlohmann::json& object, const char* key) {
  static const nlohmann::json kNull;
  if (!object.is_object()) return kNull;
  auto found = object.find(key);
  return found == object.end() ? kNull : *found;
}

std::optional<std::string> string_member(const nlohmann::json& object, const char* key) {
  const nlohmann::json& value = member(object, key);
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

std::optional<LinePosition> position_of(const nlohmann::json& value) {
  const nlohmann::json& line = member(value, "line");
  const nlohmann::json& character = member(value, "character");
  auto fits = [](const nlohmann::json& number) {
    return number.is_number_unsigned() ||
           (number.is_number_integer() && number.get<int64_t>() >= 0);
  };
  if (!fits(line) || !fits(character)) return std::nullopt;
  constexpr uint64_t kLargest = std::numeric_limits<uint32_t>::max();
  return LinePosition{static_cast<uint32_t>(std::min(line.get<uint64_t>(), kLargest)),
                      static_cast<uint32_t>(std::min(character.get<uint64_t>(), kLargest))};
}

std::optional<std::pair<LinePosition, LinePosition>> range_of(const nlohmann::json& value) {
  auto start = position_of(member(value, "start"));
  auto end = position_of(member(value, "end"));
  if (!start || !end) return std::nullopt;
  return std::pair{*start, *end};
}

}  // namespace keyhound
