#pragma once

#include <expected>

#include "analysis/analyze_file.hpp"
#include "analysis/findings.hpp"
#include "project/discovery.hpp"
#include "run/file_loop.hpp"

namespace keyhound {

class ResultCache;

// Reads and analyses one input, through the result cache when there is
// one: a named file, standard input, or a path discovery could not read.
// A file that cannot be read gives a report with the read error as its
// outcome; the module and the command both read their files here.
std::expected<FileReport, Interrupted> lint_input(const LintInput& input,
                                                  const AnalysisOptions& options = {},
                                                  const ResultCache* cache = nullptr,
                                                  const InterruptCheck& interrupted = {});

// The same for a path named as it is shown.
inline std::expected<FileReport, Interrupted> lint_file(const std::string& path,
                                                        const InterruptCheck& interrupted = {}) {
  return lint_input(LintInput{.display = path, .path = path, .is_stdin = false, .error = {}}, {},
                    nullptr, interrupted);
}

}  // namespace keyhound
