#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "project/exclusion.hpp"

namespace keyhound {

// One file to lint, as discovery found it.
struct LintInput {
  // The name the report shows.
  std::string display;
  // What to open; unused for standard input.
  std::string path;
  bool is_stdin = false;
  // Set when discovery itself failed for this path (an unreadable
  // directory, a link loop): the read-error message.
  std::optional<std::string> error;
  // Which of the run's configurations governs it, when paths have
  // configurations of their own (0: the run's).
  std::size_t project = 0;
  // What the user named that holds it: the directory walked, or for a file
  // named itself the directory it was named in. An edit (--add-noqa) stays
  // inside it, wherever a link in the tree points.
  std::string named_root = {};
};

struct DiscoveryOptions {
  // Matched against paths found in directories (and, with
  // `force_exclude`, against named paths and the standard-input name).
  std::vector<ExclusionPattern> exclusions;
  bool force_exclude = false;
  bool respect_gitignore = true;
  std::optional<std::string> stdin_filename;
  // The absolute working directory.
  std::string working_directory;
  // Whether directories give their notebooks (*.ipynb) too.
  bool notebooks = false;
};

// The files the command lints, in order: the named paths in command-line
// order, each directory replaced by the `.py` files found beneath it,
// sorted by their path bytes. `-` is standard input. A `.py` name in a
// directory that is not a regular file (a FIFO, a device, a socket, or a
// link to one) is passed over and added to `skipped`.
std::vector<LintInput> discover_inputs(std::span<const std::string> paths,
                                       const DiscoveryOptions& options,
                                       std::vector<std::string>* skipped = nullptr);

}  // namespace keyhound
