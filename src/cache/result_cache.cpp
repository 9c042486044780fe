#include "cache/result_cache.hpp"

#include <new>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>

#include "base/plain_file.hpp"
#include "base/temporary_file.hpp"
#include "base/write_all.hpp"
#include "cache/cache_directory.hpp"
#include "cache/report_codec.hpp"
#include "base/version.hpp"

namespace keyhound {
namespace {

constexpr long kUnusedForPruning = 30L * 24 * 3600;
constexpr long kPruneInterval = 24L * 3600;
constexpr long kTemporaryAge = 3600;
constexpr std::size_t kKeyBytes = 16;
constexpr std::size_t kMacBytes = 32;
// Entries hold no source text: this is far beyond any real one, and keeps
// a forged one from being read into memory whole.
constexpr std::size_t kLargestEntry = 64u << 20;

// An entry's place: two levels, so that no directory grows past a few
// thousand names.
struct EntryName {
  std::string subdirectory;
  std::string file;
};

EntryName entry_name(const std::string& key) { return {key.substr(0, 2), key.substr(2)}; }

bool is_hex(std::string_view name, std::size_t size) {
  if (name.size() != size) return false;
  for (char c : name) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

// Equal in time independent of where they differ.
bool same_mac(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

FileDescriptor open_subdirectory(int top, const std::string& name) {
  return FileDescriptor(
      ::openat(top, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

using Listing = std::unique_ptr<DIR, int (*)(DIR*)>;

Listing list(int directory) {
  int fd = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Listing(nullptr, ::closedir);
  Listing listing(::fdopendir(fd), ::closedir);
  if (!listing) ::close(fd);
  return listing;
}

// A temporary name for an entry: ".{entry}.keyhound-XXXXXX".
bool is_entry_temporary(std::string_view name, std::size_t entry_size) {
  std::size_t marker = name.find(".keyhound-");
  return name.starts_with('.') && marker == entry_size + 1 &&
         is_hex(name.substr(1, entry_size), entry_size) &&
         is_temporary_name_for(name, name.substr(1, entry_size));
}

void prune_subdirectory(int directory, std::time_t now) {
  constexpr std::size_t kEntrySize = 2 * kKeyBytes - 2;
  Listing listing = list(directory);
  if (!listing) return;
  while (dirent* item = ::readdir(listing.get())) {
    std::string_view name = item->d_name;
    long age_limit;
    if (is_hex(name, kEntrySize)) {
      age_limit = kUnusedForPruning;
    } else if (is_entry_temporary(name, kEntrySize)) {
      age_limit = kTemporaryAge;
    } else {
      continue;  // not a name keyhound writes: not keyhound's to remove
    }
    struct stat status;
    if (::fstatat(directory, item->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(status.st_mode) && now - status.st_mtime > age_limit) {
      ::unlinkat(directory, item->d_name, 0);
    }
  }
}

}  // namespace

std::expected<ResultCache, std::string> ResultCache::open(const std::string& directory,
                                                          CacheOrigin origin) {
  auto top = open_cache_directory(directory, origin);
  if (!top) return std::unexpected(top.error());
  auto secret = load_entry_secret();
  if (!secret) return std::unexpected("no key to authenticate its entries: " + secret.error());
  return ResultCache(directory, std::move(*top), *secret);
}

ResultCache::ResultCache(ResultCache&& other) noexcept
    : directory_(std::move(other.directory_)),
      top_(std::move(other.top_)),
      secret_(other.secret_),
      hits_(other.hits_.load()),
      misses_(other.misses_.load()),
      rejected_(other.rejected_.load()),
      stores_(other.stores_.load()),
      hashed_(other.hashed_.load()),
      store_failed_(other.store_failed_.load()) {}

std::string ResultCache::options_header(const AnalysisOptions& options) const {
  // What changes what the analysis finds: the version, the revision of the
  // rules and of the entries (raised whenever either changes), the options.
  std::string header = "keyhound " + std::string(kVersion) + " entry 7";
  header += options.honour_suppressions ? " noqa" : " ignore-noqa";
  header += options.precise ? " precise" : " default";
  if (options.report_unused_suppressions) header += " unused-suppressions";
  return header;
}

std::string ResultCache::key(std::string_view source, const AnalysisOptions& options) const {
  ++hashed_;
  KeyedHash hash(secret_);
  hash.add("key");
  hash.add(options_header(options));
  hash.add(source);
  return hex(hash.finish(kKeyBytes));
}

std::string ResultCache::identity_key(const FileIdentity& identity,
                                      const AnalysisOptions& options) const {
  std::string fields;
  for (int64_t field : {static_cast<int64_t>(identity.device), static_cast<int64_t>(identity.inode),
                        static_cast<int64_t>(identity.size), identity.modified_seconds,
                        identity.modified_nanoseconds, identity.changed_seconds,
                        identity.changed_nanoseconds}) {
    fields += std::to_string(field);
    fields += ' ';
  }
  KeyedHash hash(secret_);
  hash.add("identity");
  hash.add(options_header(options));
  hash.add(fields);
  return hex(hash.finish(kKeyBytes));
}

std::string ResultCache::entry_mac(const std::string& key, std::string_view payload) const {
  KeyedHash hash(secret_);
  hash.add("entry");
  hash.add(key);
  hash.add(payload);
  return hash.finish(kMacBytes);
}

// An entry's payload when its MAC, made with `label`, holds; nothing (and
// a rejection counted) when it is there but does not.
std::optional<std::string> ResultCache::read_entry(const std::string& key, std::string_view label,
                                                   FileDescriptor* kept_subdirectory) const {
  EntryName name = entry_name(key);
  FileDescriptor subdirectory = open_subdirectory(top_.get(), name.subdirectory);
  std::expected<std::string, PlainReadError> bytes =
      subdirectory.is_open()
          ? read_plain_file_at(subdirectory.get(), name.file.c_str(),
                               PlainReadOptions{.most_bytes = kLargestEntry, .follow_links = false})
          : std::unexpected(PlainReadError{ENOENT, {}});
  if (!bytes) {
    if (bytes.error().error != ENOENT) ++rejected_;
    return std::nullopt;
  }
  std::string_view entry = *bytes;
  KeyedHash hash(secret_);
  hash.add(label);
  hash.add(key);
  hash.add(entry.size() >= kMacBytes ? entry.substr(kMacBytes) : std::string_view());
  if (entry.size() < kMacBytes || !same_mac(entry.substr(0, kMacBytes), hash.finish(kMacBytes))) {
    ++rejected_;
    return std::nullopt;
  }
  if (kept_subdirectory != nullptr) *kept_subdirectory = std::move(subdirectory);
  return std::string(entry.substr(kMacBytes));
}

bool ResultCache::write_entry(const std::string& key, std::string_view label,
                              std::string_view payload) const {
  EntryName name = entry_name(key);
  if (::mkdirat(top_.get(), name.subdirectory.c_str(), 0777) != 0 && errno != EEXIST) return false;
  FileDescriptor subdirectory = open_subdirectory(top_.get(), name.subdirectory);
  if (!subdirectory.is_open()) return false;
  auto file = TemporaryFile::create(subdirectory.get(), name.file, 0666);
  if (!file) return false;
  KeyedHash hash(secret_);
  hash.add(label);
  hash.add(key);
  hash.add(payload);
  const std::string mac = hash.finish(kMacBytes);
  return write_whole(file->fd(), mac) && write_whole(file->fd(), payload) && file->commit();
}

std::optional<FileReport> ResultCache::load(const std::string& key, std::string_view path,
                                            std::string_view source) const {
  FileDescriptor subdirectory;
  std::optional<std::string> payload = read_entry(key, "entry", &subdirectory);
  std::optional<FileReport> report;
  if (payload) {
    // An entry too large for the memory left is a miss, not the end of
    // the run.
    try {
      report = decode_findings(*payload, path, source);
    } catch (const std::bad_alloc&) {
      report.reset();
    }
    if (!report) ++rejected_;
  }
  if (!report) {
    ++misses_;
    return std::nullopt;
  }
  // Used now: pruning keeps it.
  ::utimensat(subdirectory.get(), entry_name(key).file.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
  ++hits_;
  return report;
}

void ResultCache::store(const std::string& key, const FileReport& report) const {
  if (!write_entry(key, "entry", encode_findings(report))) {
    store_failed_ = true;
    return;
  }
  ++stores_;
}

std::optional<std::string> ResultCache::key_by_identity(const FileIdentity& identity,
                                                        const AnalysisOptions& options) const {
  const std::string record = identity_key(identity, options);
  FileDescriptor subdirectory;
  std::optional<std::string> key = read_entry(record, "identity", &subdirectory);
  if (!key || !is_hex(*key, 2 * kKeyBytes)) return std::nullopt;
  // Used now: pruning keeps it.
  ::utimensat(subdirectory.get(), entry_name(record).file.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
  return key;
}

void ResultCache::remember_identity(const FileIdentity& identity, const AnalysisOptions& options,
                                    const std::string& key) const {
  // A file changed within the clock's grain of now could change again with
  // the same times: it is not remembered until its times are past.
  constexpr int64_t kGrainSeconds = 2;
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  if (now - identity.modified_seconds < kGrainSeconds ||
      now - identity.changed_seconds < kGrainSeconds) {
    return;
  }
  if (!write_entry(identity_key(identity, options), "identity", key)) store_failed_ = true;
}

void ResultCache::prune() const {
  if (stores_.load() == 0) return;
  struct stat status;
  std::time_t now = std::time(nullptr);
  if (::fstatat(top_.get(), ".pruned", &status, AT_SYMLINK_NOFOLLOW) == 0 &&
      now - status.st_mtime < kPruneInterval) {
    return;
  }
  FileDescriptor stamp(
      ::openat(top_.get(), ".pruned", O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (stamp.is_open()) ::futimens(stamp.get(), nullptr);
  Listing top = list(top_.get());
  if (!top) return;
  while (dirent* item = ::readdir(top.get())) {
    if (!is_hex(item->d_name, 2)) continue;
    FileDescriptor subdirectory = open_subdirectory(top_.get(), item->d_name);
    if (subdirectory.is_open()) prune_subdirectory(subdirectory.get(), now);
  }
}

}  // namespace keyhound
