#include "run/lint_input.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <utility>

#include "cache/result_cache.hpp"
#include "notebook/notebook_source.hpp"

namespace keyhound {
namespace {

FileIdentity identity_of(const struct stat& status) {
  return FileIdentity{.device = static_cast<uint64_t>(status.st_dev),
                      .inode = static_cast<uint64_t>(status.st_ino),
                      .size = static_cast<uint64_t>(status.st_size),
                      .modified_seconds = status.st_mtim.tv_sec,
                      .modified_nanoseconds = status.st_mtim.tv_nsec,
                      .changed_seconds = status.st_ctim.tv_sec,
                      .changed_nanoseconds = status.st_ctim.tv_nsec};
}

FileReport unreadable(const LintInput& input, std::string message) {
  return FileReport{.path = input.display,
                    .findings = {},
                    .outcome = FileOutcome{FileStatus::ReadError, std::move(message)}};
}

FileReport analyze_or_load(const LintInput& input, const std::string& source,
                           const AnalysisOptions& options, const ResultCache* cache,
                           const struct stat* status);

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
  struct stat status {};
  std::expected<std::string, ReadFailure> source =
      input.is_stdin ? read_source_descriptor(STDIN_FILENO, interrupted, decoding)
                     : read_source(input.path, interrupted, decoding, &status);
  if (!source) {
    if (source.error().interrupted) return std::unexpected(Interrupted{});
    return unreadable(input, std::move(source.error().message));
  }
  // The readable mode checks a notebook's code cells as one module; the
  // module's rule reads every named file as Python.
  std::vector<NotebookCell> cells;
  if (options.precise && is_notebook_path(input.is_stdin ? input.display : input.path)) {
    auto notebook = notebook_source(*source);
    if (!notebook) return unreadable(input, std::move(notebook.error()));
    *source = std::move(notebook->text);
    cells = std::move(notebook->cells);
  }
  FileReport report = analyze_or_load(input, *source, options, cache,
                                      S_ISREG(status.st_mode) ? &status : nullptr);
  report.cells = std::move(cells);
  return report;
}

namespace {

// The report of a source, from the cache when it holds one.
FileReport analyze_or_load(const LintInput& input, const std::string& source,
                           const AnalysisOptions& options, const ResultCache* cache,
                           const struct stat* status) {
  if (cache == nullptr) return analyze_file(input.display, source, options);
  // A regular file unchanged since its entry was made is found by what it
  // is, without hashing its bytes; anything else by its bytes.
  std::optional<FileIdentity> identity;
  if (!input.is_stdin && status != nullptr) identity = identity_of(*status);
  if (identity) {
    if (auto key = cache->key_by_identity(*identity, options)) {
      if (std::optional<FileReport> kept = cache->load(*key, input.display, source)) {
        return std::move(*kept);
      }
    }
  }
  std::string key = cache->key(source, options);
  if (identity) cache->remember_identity(*identity, options, key);
  if (std::optional<FileReport> kept = cache->load(key, input.display, source)) {
    return std::move(*kept);
  }
  FileReport report = analyze_file(input.display, source, options);
  cache->store(key, report);
  return report;
}

}  // namespace

}  // namespace keyhound
