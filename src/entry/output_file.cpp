#include "entry/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "analysis/os_error.hpp"

namespace keyhound {
namespace {

mode_t current_umask() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

std::expected<AtomicOutputFile, std::string> AtomicOutputFile::create(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string pattern = (slash == std::string::npos ? std::string() : directory) + "." + name +
                        ".keyhound-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    return std::unexpected("cannot write output file '" + path + "': " + os_error_text(errno));
  }
  FileDescriptor file(fd);
  // The mode a new file would get; an existing file keeps its own.
  struct stat existing;
  mode_t mode = ::stat(path.c_str(), &existing) == 0 ? existing.st_mode & 07777
                                                     : 0666 & ~current_umask();
  ::fchmod(file.get(), mode);
  return AtomicOutputFile(path, std::string(buffer.data()), std::move(file));
}

AtomicOutputFile::AtomicOutputFile(AtomicOutputFile&& other) noexcept
    : path_(std::move(other.path_)),
      temporary_(std::exchange(other.temporary_, std::string())),
      file_(std::move(other.file_)) {}

AtomicOutputFile::~AtomicOutputFile() {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void AtomicOutputFile::write_line(Stream stream, std::string_view line) {
  if (stream == Stream::Stderr) {
    standard_error_.write_line(stream, line);
    return;
  }
  write_all(file_.get(), line, path_);
}

std::expected<void, std::string> AtomicOutputFile::commit() {
  if (::fsync(file_.get()) != 0 || ::rename(temporary_.c_str(), path_.c_str()) != 0) {
    return std::unexpected("cannot write output file '" + path_ + "': " + os_error_text(errno));
  }
  temporary_.clear();
  return {};
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
