#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keyhound {

// How likely a finding's key is to be missing, from where its mapping and
// its key come from.
enum class Confidence : uint8_t { Low, Medium, High };

inline constexpr std::string_view confidence_name(Confidence confidence) {
  switch (confidence) {
    case Confidence::High:
      return "high";
    case Confidence::Medium:
      return "medium";
    case Confidence::Low:
      break;
  }
  return "low";
}

inline std::optional<Confidence> confidence_named(std::string_view name) {
  if (name == "high") return Confidence::High;
  if (name == "medium") return Confidence::Medium;
  if (name == "low") return Confidence::Low;
  return std::nullopt;
}

// A finding's confidence and why, as a short phrase: "an environment
// variable", "key 'name' from a parameter".
struct Risk {
  Confidence confidence = Confidence::Medium;
  std::string reason;
  bool operator==(const Risk&) const = default;
};

}  // namespace keyhound
