#include "entry/file_loop.hpp"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "analysis/analyze_file.hpp"
#include "analysis/os_error.hpp"
#include "entry/file_descriptor.hpp"
#include "syntax/utf8.hpp"

namespace keyhound {
namespace {

constexpr std::size_t kLargestSource = std::numeric_limits<uint32_t>::max();

}  // namespace

std::expected<std::string, std::string> read_source_file(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.is_open()) return std::unexpected(os_error_text(errno));
  return read_source_descriptor(file.get());
}

std::expected<std::string, std::string> read_source_descriptor(int fd) {
  std::string content;
  struct stat status;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
      static_cast<std::size_t>(status.st_size) <= kLargestSource) {
    content.reserve(static_cast<std::size_t>(status.st_size));
  }
  // Read until end of file whatever the size said: the file may grow, and a
  // pipe or a /proc file reports no useful size at all.
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error_text(errno));
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
    // The syntax tree counts bytes in 32 bits; stop early rather than read
    // an endless device such as /dev/zero into memory.
    if (content.size() > kLargestSource) return std::unexpected(os_error_text(EFBIG));
  }
  if (!is_valid_utf8(content)) return std::unexpected("stream did not contain valid UTF-8");
  return content;
}

FileReport lint_file(const std::string& path) {
  std::expected<std::string, std::string> source = read_source_file(path);
  if (!source) {
    return FileReport{.path = path,
                      .findings = {},
                      .outcome = FileOutcome{FileStatus::ReadError, std::move(source.error())}};
  }
  return analyze_file(path, *source);
}

void FileLoopResult::count(const FileReport& report) {
  if (report.outcome.status == FileStatus::HasFindings) any_file_has_issues = true;
  if (report.outcome.status == FileStatus::ReadError) any_file_unreadable = true;
}

FileLoopResult run_file_loop(std::span<const std::string> paths, LineWriter& out,
                             const CaretRenderer& renderer) {
  FileLoopResult result;
  for (const std::string& path : paths) {
    // One file at a time: memory follows the largest file, not the number
    // of files.
    FileReport report = lint_file(path);
    renderer.render(report, out);
    result.count(report);
  }
  return result;
}

}  // namespace keyhound
