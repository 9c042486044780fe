#include "output/line_writer.hpp"

#include <cerrno>
#include <unistd.h>

#include "base/os_error.hpp"
#include "base/internal_fault.hpp"

namespace keyhound {
namespace {

void write_to_descriptor(Stream stream, std::string_view line) {
  static std::mutex stdout_lock;
  static std::mutex stderr_lock;
  const bool to_stdout = stream == Stream::Stdout;
  std::lock_guard guard(to_stdout ? stdout_lock : stderr_lock);
  write_all(to_stdout ? STDOUT_FILENO : STDERR_FILENO, line, to_stdout ? "stdout" : "stderr");
}

}  // namespace

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
    throw InternalFault(
        "failed printing to " + std::string(stream_name) + ": " + os_error_text(error),
        std::source_location::current(),
        error == EPIPE ? InternalFault::Cause::Environment : InternalFault::Cause::MaybeBug);
  }
}

void DescriptorWriter::write_line(Stream stream, std::string_view line) {
  write_to_descriptor(stream, line);
}

void BestEffortDescriptorWriter::write_line(Stream stream, std::string_view line) {
  try {
    write_to_descriptor(stream, line);
  } catch (const InternalFault&) {
    // The exit status stands whatever became of the text.
  }
}

std::string MemoryWriter::text(Stream stream) const {
  std::string joined;
  for (const auto& [line_stream, line] : lines_) {
    if (line_stream == stream) joined += line;
  }
  return joined;
}

void MemoryWriter::replay(LineWriter& target) const {
  // Consecutive lines of one stream go over as one text, so that a file's
  // excerpt costs one write instead of one per line; the order of the two
  // streams is kept line for line.
  std::string run;
  Stream run_stream = Stream::Stdout;
  for (const auto& [stream, line] : lines_) {
    if (!run.empty() && (stream != run_stream || run.size() >= kMostBatched)) {
      target.write_line(run_stream, run);
      run.clear();
    }
    run_stream = stream;
    run += line;
  }
  if (!run.empty()) target.write_line(run_stream, run);
}

}  // namespace keyhound
