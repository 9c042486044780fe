#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <expected>
#include <string>

namespace keyhound {

// Reading a file that is data, not source: a configuration, a baseline, a
// cache entry. Only a regular file is read; anything else (a FIFO that would
// block, a device such as /dev/zero that never ends, a directory) is refused
// at once, since the open never waits (O_NONBLOCK). The size is checked
// before and during the read, so a file that grows is still bounded.
struct PlainReadOptions {
  std::size_t most_bytes;
  // A symbolic link as the last component is refused rather than followed.
  bool follow_links = true;
};

// The failure: errno-style number and the text shown after the file's name.
struct PlainReadError {
  int error = 0;
  std::string message;
};

std::expected<std::string, PlainReadError> read_plain_file(const std::string& path,
                                                           const PlainReadOptions& options);
// The same, for `name` inside the directory open as `directory_fd`; the
// file's status is left in `status` when given.
std::expected<std::string, PlainReadError> read_plain_file_at(int directory_fd, const char* name,
                                                              const PlainReadOptions& options,
                                                              struct stat* status = nullptr);

// Reads `fd` to its end, failing once more than `most_bytes` arrive.
std::expected<std::string, PlainReadError> read_to_end(int fd, std::size_t most_bytes);

}  // namespace keyhound
