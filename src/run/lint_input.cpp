#include "run/lint_input.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <utility>

#include "cache/result_cache.hpp"

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
  if (cache == nullptr) return analyze_file(input.display, *source, options);
  // A regular file unchanged since its entry was made is found by what it
  // is, without hashing its bytes; anything else by its bytes.
  std::optional<FileIdentity> identity;
  if (!input.is_stdin && S_ISREG(status.st_mode)) identity = identity_of(status);
  if (identity) {
    if (auto key = cache->key_by_identity(*identity, options)) {
      if (std::optional<FileReport> kept = cache->load(*key, input.display, *source)) {
        return std::move(*kept);
      }
    }
  }
  std::string key = cache->key(*source, options);
  if (identity) cache->remember_identity(*identity, options, key);
  if (std::optional<FileReport> kept = cache->load(key, input.display, *source)) {
    return std::move(*kept);
  }
  FileReport report = analyze_file(input.display, *source, options);
  cache->store(key, report);
  return report;
}

}  // namespace keyhound
