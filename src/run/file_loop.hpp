#pragma once

#include <sys/stat.h>

#include <expected>
#include <functional>
#include <span>
#include <string>

#include "formats/caret_renderer.hpp"
#include "analysis/findings.hpp"
#include "output/line_writer.hpp"
#include "formats/report_format.hpp"

namespace keyhound {

// Asked when a blocking open or read is interrupted by a signal: true ends
// the run (the caller has a reason of its own, such as Python's pending
// KeyboardInterrupt), false retries. An empty check always retries.
using InterruptCheck = std::function<bool()>;

// A read that failed: the text shown after "Error reading file '{path}': ",
// or an interruption the caller asked to end on.
struct ReadFailure {
  std::string message;
  bool interrupted = false;
};

// How a source's bytes become text: strict UTF-8 (the module's rule), or
// by the encoding it declares (PEP 263), as CPython reads it.
enum class SourceDecoding { StrictUtf8, Declared };

// The whole content of the file at `path` (relative paths against the
// working directory), read to its end so that pipes work as well, and
// checked for UTF-8 (or decoded). A regular file too large for the parser
// (4 GiB) or for the memory there is is refused before it is read.
// `after`, when given, receives the file's status once it is read (for
// the cache's index of identities).
std::expected<std::string, ReadFailure> read_source(
    const std::string& path, const InterruptCheck& interrupted = {},
    SourceDecoding decoding = SourceDecoding::StrictUtf8, struct stat* after = nullptr);
// The same for an open descriptor (standard input).
std::expected<std::string, ReadFailure> read_source_descriptor(
    int fd, const InterruptCheck& interrupted = {},
    SourceDecoding decoding = SourceDecoding::StrictUtf8, struct stat* after = nullptr);
// read_source with its error as the message alone.
std::expected<std::string, std::string> read_source_file(const std::string& path);

// The run was interrupted and ends without a report for this file.
struct Interrupted {};

struct FileLoopResult {
  bool any_file_has_issues = false;
  bool any_file_unreadable = false;
  // The loop stopped early because the interrupt check said so.
  bool interrupted = false;
  RunSummary summary;

  void count(const FileReport& report);
  // The same from the parts a worker keeps of a report.
  void count(FileStatus status, std::size_t findings, const std::string& path);
};

// Reads and analyses each file in order, duplicates included, rendering each
// report (its findings and outcome line) before the next file is read.
FileLoopResult run_file_loop(std::span<const std::string> paths, LineWriter& out,
                             const CaretRenderer& renderer, const InterruptCheck& interrupted = {});

}  // namespace keyhound
