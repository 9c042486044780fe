#pragma once

#include <cstdint>
#include <memory>
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

// Why a finding is as likely as it is, as a short phrase. A phrase written
// in the program is kept as a view of it; one made for the finding ("key
// 'name' from a parameter") is shared by its copies, of which each lookup
// has several (its scope's answer, the file's facts, its finding), made
// again at every keystroke in an editor.
class RiskReason {
 public:
  RiskReason() = default;
  // A literal: its text lives as long as the program.
  consteval RiskReason(const char* literal) : text_(literal) {}
  RiskReason(std::string text)
      : owned_(std::make_shared<const std::string>(std::move(text))), text_(*owned_) {}

  std::string_view view() const { return text_; }
  operator std::string_view() const { return text_; }
  std::size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  bool operator==(const RiskReason& other) const { return text_ == other.text_; }

 private:
  std::shared_ptr<const std::string> owned_;
  std::string_view text_;
};

// A finding's confidence and why, as a short phrase: "an environment
// variable", "key 'name' from a parameter".
struct Risk {
  Confidence confidence = Confidence::Medium;
  RiskReason reason;
  bool operator==(const Risk&) const = default;
};

}  // namespace keyhound
