#pragma once

#include <expected>
#include <span>
#include <string>

#include "analysis/caret_renderer.hpp"
#include "analysis/findings.hpp"
#include "analysis/line_writer.hpp"

namespace keyhound {

// The whole content of the file at `path` (relative paths against the
// working directory), read to its end so that pipes work as well. The error
// is the text shown after "Error reading file '{path}': ".
std::expected<std::string, std::string> read_source_file(const std::string& path);
// The same for an open descriptor (standard input), read to its end.
std::expected<std::string, std::string> read_source_descriptor(int fd);

// Reads and analyses the file at `path`; a file that cannot be read gives
// a report with the read error as its outcome.
FileReport lint_file(const std::string& path);

struct FileLoopResult {
  bool any_file_has_issues = false;
  bool any_file_unreadable = false;

  void count(const FileReport& report);
};

// Reads and analyses each file in order, duplicates included, rendering each
// report (its findings and outcome line) before the next file is read.
FileLoopResult run_file_loop(std::span<const std::string> paths, LineWriter& out,
                             const CaretRenderer& renderer);

}  // namespace keyhound
