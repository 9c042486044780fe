#pragma once

#include <exception>

namespace keyhound {

// Writes the short diagnostic for an internal fault to standard error: the
// thread, where the fault was raised, its message, and how to get a
// backtrace. Best effort: standard error itself may be what failed.
void report_internal_fault(const std::exception& fault);

}  // namespace keyhound
