#pragma once

#include <string_view>

namespace keyhound {

enum class Stream { Stdout, Stderr };

// What to do when a write fails for a reason other than a closed descriptor.
enum class OnWriteFailure {
  Fault,   // the whole command ends with an internal fault
  Ignore,  // best effort: the help text and command-line errors
};

// Writes one whole line (its line feed included) to descriptor 1 or 2 with
// one write(2), held under that stream's process-wide lock so that no other
// thread's output splits it. Never goes through any interpreter's streams.
void write_line(Stream stream, std::string_view line,
                OnWriteFailure on_failure = OnWriteFailure::Fault);

// The loop under `write_line`, for any descriptor: a partial write is
// continued and an interrupted one repeated; a descriptor that is not open
// drops the text as done. Any other failure throws InternalFault
// "failed printing to {stream_name}: {description} (os error {number})".
void write_all(int fd, std::string_view text, std::string_view stream_name);

}  // namespace keyhound
