#include "analysis/output.hpp"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>

#include "internal_fault.hpp"
#include "analysis/os_error.hpp"

namespace keyhound {

void write_all(int fd, std::string_view text, std::string_view stream_name) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written >= 0) {
      text.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    int error = errno;
    if (error == EINTR) continue;
    if (error == EBADF) return;  // nobody is listening: the text counts as written
    throw InternalFault("failed printing to " + std::string(stream_name) + ": " +
                        os_error_text(error));
  }
}

void write_line(Stream stream, std::string_view line, OnWriteFailure on_failure) {
  static std::mutex stdout_lock;
  static std::mutex stderr_lock;
  const bool to_stdout = stream == Stream::Stdout;
  std::lock_guard guard(to_stdout ? stdout_lock : stderr_lock);
  try {
    write_all(to_stdout ? STDOUT_FILENO : STDERR_FILENO, line,
              to_stdout ? "stdout" : "stderr");
  } catch (const InternalFault&) {
    if (on_failure == OnWriteFailure::Fault) throw;
  }
}

}  // namespace keyhound
