#include "front/out_of_memory.hpp"

#include <unistd.h>

#include <charconv>
#include <cstring>

namespace keyhound {

void end_for_out_of_memory(std::size_t bytes) {
  char line[160];
  constexpr const char kStart[] =
      "keyhound: internal fault: out of memory: the parser could not allocate ";
  std::size_t length = sizeof kStart - 1;
  std::memcpy(line, kStart, length);
  auto converted = std::to_chars(line + length, line + sizeof line - 16, bytes);
  length = static_cast<std::size_t>(converted.ptr - line);
  constexpr const char kEnd[] = " bytes\n";
  std::memcpy(line + length, kEnd, sizeof kEnd - 1);
  length += sizeof kEnd - 1;
  for (std::size_t done = 0; done < length;) {
    ssize_t written = ::write(STDERR_FILENO, line + done, length - done);
    if (written <= 0) break;
    done += static_cast<std::size_t>(written);
  }
  ::_exit(kInternalFaultStatus);
}

}  // namespace keyhound
