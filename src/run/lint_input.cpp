#include "run/lint_input.hpp"

#include <unistd.h>

#include <optional>
#include <string>
#include <utility>

#include "cache/result_cache.hpp"

namespace keyhound {
namespace {

FileReport unreadable(const LintInput& input, std::string message) {
  return FileReport{.path = input.display,
                    .findings = {},
                    .outcome = FileOutcome{FileStatus::ReadError, std::move(message)}};
}

}  // namespace

std::expected<FileReport, Interrupted> lint_input(const LintInput& input,
                                                  const AnalysisOptions& options,
                                                  const ResultCache* cache,
                                                  const InterruptCheck& interrupted) {
  if (input.error) return unreadable(input, *input.error);
  // The readable mode reads a source as CPython does, by the encoding it
  // declares; the module's rule is strict UTF-8.
  const SourceDecoding decoding =
      options.precise ? SourceDecoding::Declared : SourceDecoding::StrictUtf8;
  std::expected<std::string, ReadFailure> source =
      input.is_stdin ? read_source_descriptor(STDIN_FILENO, interrupted, decoding)
                     : read_source(input.path, interrupted, decoding);
  if (!source) {
    if (source.error().interrupted) return std::unexpected(Interrupted{});
    return unreadable(input, std::move(source.error().message));
  }
  if (cache == nullptr) return analyze_file(input.display, *source, options);
  std::string key = cache->key(*source, options);
  if (std::optional<FileReport> kept = cache->load(key, input.display, *source)) {
    return std::move(*kept);
  }
  FileReport report = analyze_file(input.display, *source, options);
  cache->store(key, report);
  return report;
}

}  // namespace keyhound
