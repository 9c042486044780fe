#include "run/file_loop.hpp"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "analysis/analyze_file.hpp"
#include "base/memory_budget.hpp"
#include "base/source_encoding.hpp"
#include "base/os_error.hpp"
#include "base/file_descriptor.hpp"
#include "base/utf8.hpp"
#include "run/lint_input.hpp"

namespace keyhound {
namespace {

constexpr std::size_t kLargestSource = std::numeric_limits<uint32_t>::max();
// How often a stream of unknown size is judged against the memory there is.
constexpr std::size_t kMemoryCheckStep = 4u << 20;

}  // namespace

std::expected<std::string, ReadFailure> read_source(const std::string& path,
                                                    const InterruptCheck& interrupted,
                                                    SourceDecoding decoding, struct stat* after) {
  for (;;) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.is_open()) return read_source_descriptor(file.get(), interrupted, decoding, after);
    int error = errno;
    if (error != EINTR) return std::unexpected(ReadFailure{os_error_text(error)});
    if (interrupted && interrupted()) return std::unexpected(ReadFailure{{}, true});
  }
}

std::expected<std::string, ReadFailure> read_source_descriptor(int fd,
                                                               const InterruptCheck& interrupted,
                                                               SourceDecoding decoding,
                                                               struct stat* after) {
  std::string content;
  struct stat status;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    // The size is known before a byte is read: refuse what cannot be
    // parsed or cannot fit rather than read it first.
    auto size = static_cast<uint64_t>(status.st_size);
    if (size > kLargestSource) return std::unexpected(ReadFailure{os_error_text(EFBIG)});
    if (auto refusal = memory_refusal(size)) return std::unexpected(ReadFailure{*refusal});
    content.reserve(static_cast<std::size_t>(size));
  }
  // Read until end of file whatever the size said: the file may grow, and a
  // pipe or a /proc file reports no useful size at all.
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      int error = errno;
      if (error != EINTR) return std::unexpected(ReadFailure{os_error_text(error)});
      if (interrupted && interrupted()) return std::unexpected(ReadFailure{{}, true});
      continue;
    }
    if (got == 0) break;
    std::size_t before = content.size();
    content.append(buffer, static_cast<std::size_t>(got));
    // The syntax tree counts bytes in 32 bits; stop early rather than read
    // an endless device such as /dev/zero into memory: what could not be
    // analysed in the memory there is is refused as soon as it has arrived.
    if (content.size() > kLargestSource) return std::unexpected(ReadFailure{os_error_text(EFBIG)});
    if (before / kMemoryCheckStep != content.size() / kMemoryCheckStep) {
      if (auto refusal = memory_refusal(content.size())) {
        return std::unexpected(ReadFailure{*refusal});
      }
    }
  }
  if (after != nullptr && ::fstat(fd, after) != 0) *after = {};
  if (decoding == SourceDecoding::Declared) {
    auto decoded = decode_python_source(std::move(content));
    if (!decoded) return std::unexpected(ReadFailure{std::move(decoded.error())});
    content = std::move(*decoded);
  } else if (!is_valid_utf8(content)) {
    return std::unexpected(ReadFailure{"stream did not contain valid UTF-8"});
  }
  if (auto refusal = memory_refusal(content.size())) return std::unexpected(ReadFailure{*refusal});
  return content;
}

std::expected<std::string, std::string> read_source_file(const std::string& path) {
  auto content = read_source(path);
  if (!content) return std::unexpected(std::move(content.error().message));
  return std::move(*content);
}

void FileLoopResult::count(const FileReport& report) {
  count(report.outcome.status, count_findings(report), report.path);
}

void FileLoopResult::count(FileStatus status, std::size_t findings, const std::string& path) {
  ++summary.files;
  summary.findings += findings;
  if (status == FileStatus::HasFindings) any_file_has_issues = true;
  if (findings > 0) ++summary.files_with_findings;
  if (status == FileStatus::ReadError) {
    any_file_unreadable = true;
    ++summary.read_errors;
    summary.unreadable.push_back(path);
  }
}

FileLoopResult run_file_loop(std::span<const std::string> paths, LineWriter& out,
                             const CaretRenderer& renderer, const InterruptCheck& interrupted) {
  FileLoopResult result;
  for (const std::string& path : paths) {
    // One file at a time: memory follows the largest file, not the number
    // of files.
    std::expected<FileReport, Interrupted> report = lint_file(path, interrupted);
    if (!report) {
      result.interrupted = true;
      break;
    }
    renderer.render(*report, out);
    result.count(*report);
    // A pending interruption (Python's KeyboardInterrupt) is honoured
    // between files too, not only when a read is interrupted.
    if (interrupted && &path != &paths.back() && interrupted()) {
      result.interrupted = true;
      break;
    }
  }
  return result;
}

}  // namespace keyhound
