#pragma once

#include <atomic>
#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/analyze_file.hpp"
#include "analysis/findings.hpp"
#include "base/file_descriptor.hpp"
#include "cache/entry_secret.hpp"

namespace keyhound {

// Where the cache directory was named: a directory that a configuration
// file names must already be keyhound's (or not exist yet), since the file
// may come from a repository the user did not write.
enum class CacheOrigin { CommandLine, Configuration, Default };

// Findings kept between runs of the native command, one entry a file
// content: a repeat run costs little more than reading the files.
//
// What it trusts and touches: the directory is used only when keyhound made
// it (its CACHEDIR.TAG says so) or it is empty; nothing inside it is reached
// through a symbolic link (every step is an *at call on a directory
// descriptor with O_NOFOLLOW); it removes only regular files whose names it
// writes itself. An entry is named and authenticated by BLAKE2b keyed with
// this user's secret, so an entry written by a repository, another user or
// another machine fails the check and is recomputed; a decoded entry must
// still fit the file's text. Entries are written beside their final name
// and renamed into place. Thread-safe: workers load and store at once.
class ResultCache {
 public:
  // Opens `directory`, creating it (with its tag and a .gitignore of "*",
  // so it is never committed). The error says why it cannot be used.
  static std::expected<ResultCache, std::string> open(const std::string& directory,
                                                      CacheOrigin origin);

  ResultCache(ResultCache&& other) noexcept;
  ResultCache& operator=(ResultCache&&) = delete;

  std::string key(std::string_view source, const AnalysisOptions& options) const;
  // The kept report for the file shown as `path` whose text is `source`.
  std::optional<FileReport> load(const std::string& key, std::string_view path,
                                 std::string_view source) const;
  void store(const std::string& key, const FileReport& report) const;

  std::size_t hits() const { return hits_.load(); }
  std::size_t misses() const { return misses_.load(); }
  // Entries that were there but failed the check or did not decode.
  std::size_t rejected() const { return rejected_.load(); }
  // Whether a store failed (a full disk, a directory made read-only
  // midway): the run goes on, and says so once at its end.
  bool store_failed() const { return store_failed_.load(); }

  // Removes entries no run has used for a month, and temporary files a
  // killed run left; at most once a day, and only after a run that stored
  // something.
  void prune() const;

  const std::string& directory() const { return directory_; }

 private:
  ResultCache(std::string directory, FileDescriptor top, const EntrySecret& secret)
      : directory_(std::move(directory)), top_(std::move(top)), secret_(secret) {}
  std::string entry_mac(const std::string& key, std::string_view payload) const;

  std::string directory_;
  FileDescriptor top_;
  EntrySecret secret_;
  mutable std::atomic<std::size_t> hits_{0};
  mutable std::atomic<std::size_t> misses_{0};
  mutable std::atomic<std::size_t> rejected_{0};
  mutable std::atomic<std::size_t> stores_{0};
  mutable std::atomic<bool> store_failed_{false};
};

// The first line of the tag that marks a directory as a cache
// (https://bford.info/cachedir/): backup tools skip it, and keyhound uses a
// directory that has it.
inline constexpr std::string_view kCacheTagSignature =
    "Signature: 8a477f597d28d172789f06886806bc55";

}  // namespace keyhound
