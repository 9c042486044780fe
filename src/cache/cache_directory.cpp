#include "cache/cache_directory.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "base/os_error.hpp"
#include "base/plain_file.hpp"
#include "base/temporary_file.hpp"
#include "base/write_all.hpp"

namespace keyhound {
namespace {

constexpr const char* kTagName = "CACHEDIR.TAG";
constexpr std::string_view kIgnoreText = "# keyhound's result cache: nothing here is committed.\n*\n";

std::string tag_text() {
  return std::string(kCacheTagSignature) +
         "\n# This file is a cache directory tag created by keyhound.\n";
}

// Writes `name` in `directory` whole, or not at all.
std::expected<void, int> write_new_file(int directory, const char* name, std::string_view text) {
  auto file = TemporaryFile::create(directory, name, 0666);
  if (!file) return std::unexpected(file.error());
  if (!write_whole(file->fd(), text)) return std::unexpected(errno);
  return file->commit();
}

bool holds(int directory, const char* name, std::string_view expected_start) {
  auto text = read_plain_file_at(directory, name,
                                 PlainReadOptions{.most_bytes = 4096, .follow_links = false});
  return text && std::string_view(*text).starts_with(expected_start);
}

// Whether the directory has no entries but . and ..; false when it cannot
// be listed.
bool is_empty(int directory) {
  int listing = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(listing), ::closedir);
  if (!entries) {
    ::close(listing);
    return false;
  }
  while (dirent* entry = ::readdir(entries.get())) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") return false;
  }
  return true;
}

std::expected<FileDescriptor, std::string> open_without_links(const std::string& path) {
  FileDescriptor top(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (top.is_open()) return top;
  int error = errno;
  struct stat status;
  if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    return std::unexpected("it is a symbolic link");
  }
  return std::unexpected(os_error_text(error));
}

}  // namespace

std::expected<FileDescriptor, std::string> open_cache_directory(const std::string& path,
                                                                CacheOrigin origin) {
  bool created = ::mkdir(path.c_str(), 0777) == 0;
  if (!created && errno != EEXIST) return std::unexpected(os_error_text(errno));
  auto top = open_without_links(path);
  if (!top) return top;
  int fd = top->get();
  if (created) {
    // Only a directory keyhound made gets a .gitignore: in any other it
    // could hide a user's own files from git.
    for (auto [name, text] : {std::pair{kTagName, tag_text()},
                              std::pair{".gitignore", std::string(kIgnoreText)}}) {
      if (auto written = write_new_file(fd, name, text); !written) {
        return std::unexpected(os_error_text(written.error()));
      }
    }
    return top;
  }
  if (holds(fd, kTagName, kCacheTagSignature) || holds(fd, ".gitignore", kIgnoreText)) {
    if (::faccessat(fd, ".", W_OK, 0) != 0) return std::unexpected(os_error_text(errno));
    return top;
  }
  // A directory a configuration file names may be anyone's: only one that
  // keyhound made is taken from there.
  if (origin == CacheOrigin::Configuration || !is_empty(fd)) {
    return std::unexpected("it is not keyhound's cache (it has no CACHEDIR.TAG of keyhound's)");
  }
  if (auto written = write_new_file(fd, kTagName, tag_text()); !written) {
    return std::unexpected(os_error_text(written.error()));
  }
  return top;
}

}  // namespace keyhound
