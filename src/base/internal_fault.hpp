#pragma once

#include <source_location>
#include <stdexcept>
#include <string>

namespace keyhound {

// The project's one exception type: a condition that a consistent build never
// meets (the grammar refusing to load, the parser returning no tree) or a
// failed write to standard output or standard error. It abandons the whole
// command and is caught only by the front ends.
class InternalFault : public std::runtime_error {
 public:
  // Whether the fault may be a bug of the program, worth a backtrace; a
  // reader that closed its pipe is not.
  enum class Cause { MaybeBug, Environment };

  explicit InternalFault(const std::string& message,
                         std::source_location where = std::source_location::current(),
                         Cause cause = Cause::MaybeBug)
      : std::runtime_error(message), where_(where), cause_(cause) {}

  const std::source_location& where() const noexcept { return where_; }
  Cause cause() const noexcept { return cause_; }

 private:
  std::source_location where_;
  Cause cause_;
};

}  // namespace keyhound
