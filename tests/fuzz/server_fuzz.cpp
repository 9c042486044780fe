// Feeds arbitrary bytes to the language server as its whole input: the
// frame reader, the JSON reader, the session and its documents, the
// analysis thread and the writer all meet them. Its answers go to
// /dev/null; a crash, a leak, a hang or a sanitizer report is a finding.

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "server/language_server.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The writer below may write after the server stopped reading.
  static const bool ignoring_sigpipe = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  if (!ignoring_sigpipe) std::abort();
  int ends[2];
  if (pipe(ends) != 0) std::abort();
  static const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::thread writer([&] {
    size_t written = 0;
    while (written < size) {
      ssize_t now = write(ends[1], data + written, size - written);
      if (now <= 0) break;
      written += static_cast<size_t>(now);
    }
    close(ends[1]);
  });
  const int status = keyhound::run_language_server(ends[0], sink);
  if (status != 0 && status != 1) std::abort();
  // The server may stop reading (at `exit`) before the writer is done.
  close(ends[0]);
  writer.join();
  return 0;
}
