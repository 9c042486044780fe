#include "base/plain_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/os_error.hpp"
#include "base/file_descriptor.hpp"

namespace keyhound {
namespace {

PlainReadError failure(int error) { return PlainReadError{error, os_error_text(error)}; }

}  // namespace

std::expected<std::string, PlainReadError> read_to_end(int fd, std::size_t most_bytes) {
  std::string content;
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(failure(errno));
    }
    if (got == 0) return content;
    if (content.size() + static_cast<std::size_t>(got) > most_bytes) {
      return std::unexpected(failure(EFBIG));
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

std::expected<std::string, PlainReadError> read_plain_file_at(int directory_fd, const char* name,
                                                              const PlainReadOptions& options,
                                                              struct stat* status) {
  int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (options.follow_links ? 0 : O_NOFOLLOW);
  FileDescriptor file;
  for (;;) {
    file = FileDescriptor(::openat(directory_fd, name, flags));
    if (file.is_open() || errno != EINTR) break;
  }
  if (!file.is_open()) {
    // O_NOFOLLOW reports a link as ELOOP, which reads as a loop of links.
    if (errno == ELOOP && !options.follow_links) {
      return std::unexpected(PlainReadError{ELOOP, "is a symbolic link"});
    }
    return std::unexpected(failure(errno));
  }
  struct stat own;
  struct stat& seen = status != nullptr ? *status : own;
  if (::fstat(file.get(), &seen) != 0) return std::unexpected(failure(errno));
  if (!S_ISREG(seen.st_mode)) {
    return std::unexpected(PlainReadError{EINVAL, "not a regular file"});
  }
  if (static_cast<uint64_t>(seen.st_size) > options.most_bytes) {
    return std::unexpected(failure(EFBIG));
  }
  // The descriptor was opened without blocking only so that a FIFO could
  // not hold the open; a regular file reads the same either way.
  ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
  return read_to_end(file.get(), options.most_bytes);
}

std::expected<std::string, PlainReadError> read_plain_file(const std::string& path,
                                                           const PlainReadOptions& options) {
  return read_plain_file_at(AT_FDCWD, path.c_str(), options);
}

}  // namespace keyhound
