#pragma once

#include <expected>
#include <span>
#include <string>

namespace keyhound {

// The whole content of the file at `path` (relative paths against the
// working directory), read to its end so that pipes work as well. The error
// is the text shown after "Error reading file '{path}': ".
std::expected<std::string, std::string> read_source_file(const std::string& path);

struct FileLoopResult {
  bool any_file_has_issues = false;
  bool any_file_unreadable = false;
};

// Reads and analyses each file in order, duplicates included, printing one
// outcome line per file. A file that cannot be read is reported and skipped.
FileLoopResult run_file_loop(std::span<const std::string> paths);

}  // namespace keyhound
