#include "base/write_all.hpp"

#include <unistd.h>

#include <cerrno>

namespace keyhound {

bool write_whole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace keyhound
