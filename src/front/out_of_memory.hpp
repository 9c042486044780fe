#pragma once

#include <cstddef>

namespace keyhound {

inline constexpr int kInternalFaultStatus = 70;  // EX_SOFTWARE

// The front ends' way to end when the parser cannot get memory: one whole
// diagnostic line on standard error, then the internal-fault status. Nothing
// can unwind through the C runtime, and nothing is allocated on the way out.
[[noreturn]] void end_for_out_of_memory(std::size_t bytes);

}  // namespace keyhound
