#pragma once

#include <atomic>
#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/analyze_file.hpp"
#include "analysis/findings.hpp"

namespace keyhound {

// Findings kept between runs of the native command, one entry a file
// content: a repeat run costs little more than reading the files. An entry
// is keyed by a hash of keyhound's version, every option that changes what
// the analysis finds, and the content; it holds the findings as data.
// Entries are written beside their final name and renamed into place, so a
// concurrent run or one killed midway never leaves a broken entry, and an
// entry that is missing, truncated, corrupt or foreign is recomputed, never
// trusted. Thread-safe: workers load and store at once.
class ResultCache {
 public:
  // Opens `directory`, creating it (with a .gitignore of "*", so it is
  // never committed). The error says why it cannot be used.
  static std::expected<ResultCache, std::string> open(const std::string& directory);

  ResultCache(ResultCache&& other) noexcept;
  ResultCache& operator=(ResultCache&&) = delete;

  std::string key(std::string_view source, const AnalysisOptions& options) const;
  // The kept report for the file shown as `path`.
  std::optional<FileReport> load(const std::string& key, std::string_view path) const;
  void store(const std::string& key, const FileReport& report) const;

  std::size_t hits() const { return hits_.load(); }
  std::size_t misses() const { return misses_.load(); }
  // Whether a store failed (a full disk, a directory made read-only
  // midway): the run goes on, and says so once at its end.
  bool store_failed() const { return store_failed_.load(); }

  // Removes entries no run has used for a month; at most once a day, and
  // only after a run that stored something.
  void prune() const;

  const std::string& directory() const { return directory_; }

 private:
  explicit ResultCache(std::string directory) : directory_(std::move(directory)) {}
  std::string entry_path(const std::string& key) const;

  std::string directory_;
  mutable std::atomic<std::size_t> hits_{0};
  mutable std::atomic<std::size_t> misses_{0};
  mutable std::atomic<std::size_t> stores_{0};
  mutable std::atomic<bool> store_failed_{false};
};

}  // namespace keyhound
