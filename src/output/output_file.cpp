#include "output/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/os_error.hpp"
#include "output/terminal_text.hpp"
#include "base/write_all.hpp"

namespace keyhound {
namespace {

std::string cannot_write(const std::string& path, const std::string& why) {
  return "cannot write output file '" + terminal_safe_name(path) + "': " + why;
}

// Whether this user may replace the regular file: its own write bits count
// even for root, who could otherwise replace a file marked read-only.
bool may_write(const std::string& path, const struct stat& status) {
  return (status.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

}  // namespace

mode_t current_umask() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

std::expected<ReplacementPlace, int> replacement_place(const std::string& path) {
  std::string target = path;
  struct stat status;
  if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         std::free);
    // A dangling link is replaced itself: there is no target to keep.
    if (resolved) target = resolved.get();
  }
  std::size_t slash = target.rfind('/');
  std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.is_open()) return std::unexpected(errno);
  return ReplacementPlace{std::move(fd), std::move(name)};
}

std::expected<AtomicOutputFile, std::string> AtomicOutputFile::create(const std::string& path) {
  struct stat existing;
  bool exists = ::stat(path.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) return std::unexpected(cannot_write(path, os_error_text(EISDIR)));
  if (exists && !S_ISREG(existing.st_mode)) {
    // A device or a FIFO is where the lines go, not a file to replace. A
    // FIFO that nobody reads would hold the open for ever: opened without
    // waiting, it fails at once (ENXIO) instead, and writes then wait for
    // the reader as usual.
    FileDescriptor direct(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!direct.is_open()) {
      const int error = errno;
      return std::unexpected(cannot_write(
          path, error == ENXIO ? "it is a FIFO that no process reads" : os_error_text(error)));
    }
    ::fcntl(direct.get(), F_SETFL, ::fcntl(direct.get(), F_GETFL) & ~O_NONBLOCK);
    return AtomicOutputFile(path, std::nullopt, std::move(direct));
  }
  if (exists && !may_write(path, existing)) {
    return std::unexpected(cannot_write(path, os_error_text(EACCES)));
  }
  auto place = replacement_place(path);
  if (!place) return std::unexpected(cannot_write(path, os_error_text(place.error())));
  remove_stale_temporaries(place->directory.get(), place->name);
  // The mode a new file would get; an existing file keeps its own.
  mode_t mode = exists ? existing.st_mode & 07777 : 0666 & ~current_umask();
  auto temporary = TemporaryFile::create(place->directory.get(), place->name, 0600);
  if (!temporary) return std::unexpected(cannot_write(path, os_error_text(temporary.error())));
  ::fchmod(temporary->fd(), mode);
  return AtomicOutputFile(path, std::move(*temporary), FileDescriptor());
}

void AtomicOutputFile::write_line(Stream stream, std::string_view line) {
  if (stream == Stream::Stderr) {
    standard_error_.write_line(stream, line);
    return;
  }
  if (write_error_ != 0) return;
  if (!write_whole(fd(), line)) write_error_ = errno;
}

std::expected<void, std::string> AtomicOutputFile::commit() {
  if (write_error_ != 0) return std::unexpected(cannot_write(path_, os_error_text(write_error_)));
  if (!temporary_) return {};
  if (::fsync(temporary_->fd()) != 0) return std::unexpected(cannot_write(path_, os_error_text(errno)));
  if (auto renamed = temporary_->commit(); !renamed) {
    return std::unexpected(cannot_write(path_, os_error_text(renamed.error())));
  }
  temporary_.reset();
  return {};
}

bool is_one_of(const std::string& path, std::span<const std::string> inputs) {
  struct stat output;
  if (::stat(path.c_str(), &output) != 0 || !S_ISREG(output.st_mode)) return false;
  for (const std::string& input : inputs) {
    struct stat status;
    if (::stat(input.c_str(), &status) == 0 && status.st_dev == output.st_dev &&
        status.st_ino == output.st_ino) {
      return true;
    }
  }
  return false;
}

void RecordCollector::write_line(Stream stream, std::string_view line) {
  if (stream == Stream::Stderr) {
    errors_.write_line(stream, line);
    return;
  }
  // A writer may hand over several whole lines at once: one record each.
  while (!line.empty()) {
    std::size_t end = line.find('\n');
    end = end == std::string_view::npos ? line.size() : end + 1;
    records_.emplace_back(line.substr(0, end));
    line.remove_prefix(end);
  }
}

}  // namespace keyhound
