#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace keyhound {

// Appends `text` as a JSON string, quotes included: `"` and `\` escaped,
// control characters (C0, DEL, C1) and bidirectional embeddings, overrides
// and isolates as \uXXXX (or their short forms), and any byte that
// is not part of valid UTF-8 replaced by U+FFFD, so the result is valid
// JSON whatever the text holds.
void append_json_string(std::string& out, std::string_view text);

// Builds one JSON object on one line, members in the order they are added.
class JsonObject {
 public:
  JsonObject& string(std::string_view key, std::string_view value);
  JsonObject& number(std::string_view key, uint64_t value);
  JsonObject& boolean(std::string_view key, bool value);
  JsonObject& null(std::string_view key);
  // `json` is already JSON text (an object or an array).
  JsonObject& raw(std::string_view key, std::string_view json);
  std::string text() const { return body_ + "}"; }

 private:
  void key(std::string_view name);
  std::string body_ = "{";
};

// {"row": R, "column": C}
std::string json_location(uint64_t row, uint64_t column);

}  // namespace keyhound
