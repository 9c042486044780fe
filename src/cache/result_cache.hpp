#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/analyze_file.hpp"
#include "analysis/findings.hpp"
#include "base/file_descriptor.hpp"
#include "cache/entry_secret.hpp"

namespace keyhound {

// What a file was when it was read: a file whose identity is the same as
// when its entry was made has the same bytes, so its entry is found without
// hashing them. Every field of the identity must match, the change time
// (which no user can set) included.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified_seconds = 0;
  int64_t modified_nanoseconds = 0;
  int64_t changed_seconds = 0;
  int64_t changed_nanoseconds = 0;
};

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

  // The index of identities: the key of the entry made for a file of this
  // identity with these options, when a record of it is there and
  // authentic; then the file's bytes need not be hashed. A record is made
  // only for a file whose times lie in the past by more than the clock's
  // grain, so that a change in the same instant as the record cannot go
  // unseen (git's "racy" files). A forged or stale record costs a hash,
  // never a hidden finding: the entry it names is still checked against
  // the file's text.
  std::optional<std::string> key_by_identity(const FileIdentity& identity,
                                             const AnalysisOptions& options) const;
  void remember_identity(const FileIdentity& identity, const AnalysisOptions& options,
                         const std::string& key) const;
  // Files whose bytes were hashed for their key.
  std::size_t hashed() const { return hashed_.load(); }

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
  std::string options_header(const AnalysisOptions& options) const;
  std::string identity_key(const FileIdentity& identity, const AnalysisOptions& options) const;
  std::optional<std::string> read_entry(const std::string& key, std::string_view label,
                                        FileDescriptor* subdirectory = nullptr) const;
  bool write_entry(const std::string& key, std::string_view label, std::string_view payload) const;

  std::string directory_;
  FileDescriptor top_;
  EntrySecret secret_;
  mutable std::atomic<std::size_t> hits_{0};
  mutable std::atomic<std::size_t> misses_{0};
  mutable std::atomic<std::size_t> rejected_{0};
  mutable std::atomic<std::size_t> stores_{0};
  mutable std::atomic<std::size_t> hashed_{0};
  mutable std::atomic<bool> store_failed_{false};
};

// The first line of the tag that marks a directory as a cache
// (https://bford.info/cachedir/): backup tools skip it, and keyhound uses a
// directory that has it.
inline constexpr std::string_view kCacheTagSignature =
    "Signature: 8a477f597d28d172789f06886806bc55";

}  // namespace keyhound
