#include "cache/result_cache.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <thread>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "analysis/os_error.hpp"
#include "cache/report_codec.hpp"
#include "version.hpp"

namespace keyhound {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using Directory = std::unique_ptr<DIR, DirCloser>;

constexpr long kUnusedForPruning = 30L * 24 * 3600;
constexpr long kPruneInterval = 24L * 3600;

bool write_whole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::optional<std::string> read_whole(const std::string& path, int* fd_out = nullptr) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  if (fd_out != nullptr) {
    *fd_out = fd;
  } else {
    ::close(fd);
  }
  return bytes;
}

// A name no other writer uses at the same moment.
std::string temporary_name(const std::string& final_path) {
  thread_local std::mt19937_64 random(std::random_device{}() ^
                                      std::hash<std::thread::id>{}(std::this_thread::get_id()));
  char suffix[40];
  std::snprintf(suffix, sizeof suffix, ".tmp-%d-%016llx", static_cast<int>(::getpid()),
                static_cast<unsigned long long>(random()));
  return final_path + suffix;
}

}  // namespace

std::expected<ResultCache, std::string> ResultCache::open(const std::string& directory) {
  if (::mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
    return std::unexpected(os_error_text(errno));
  }
  std::string ignore = directory + "/.gitignore";
  if (::access(ignore.c_str(), F_OK) != 0) {
    std::string temporary = temporary_name(ignore);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return std::unexpected(os_error_text(errno));
    bool written = write_whole(fd, "# keyhound's result cache: nothing here is committed.\n*\n");
    int error = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), ignore.c_str()) != 0) {
      if (written) error = errno;
      ::unlink(temporary.c_str());
      return std::unexpected(os_error_text(error));
    }
  } else if (::access(directory.c_str(), W_OK) != 0) {
    return std::unexpected(os_error_text(errno));
  }
  return ResultCache(directory);
}

ResultCache::ResultCache(ResultCache&& other) noexcept
    : directory_(std::move(other.directory_)),
      hits_(other.hits_.load()),
      misses_(other.misses_.load()),
      stores_(other.stores_.load()),
      store_failed_(other.store_failed_.load()) {}

std::string ResultCache::key(std::string_view source, const AnalysisOptions& options) const {
  XXH3_state_t* state = XXH3_createState();
  std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> owner(state, XXH3_freeState);
  XXH3_128bits_reset(state);
  // What changes what the analysis finds: the version, the options.
  std::string header = "keyhound " + std::string(kVersion) + " entry 1";
  header += options.honour_suppressions ? " noqa" : " ignore-noqa";
  header += options.precise ? " precise" : " default";
  header += '\0';
  XXH3_128bits_update(state, header.data(), header.size());
  XXH3_128bits_update(state, source.data(), source.size());
  XXH128_hash_t hash = XXH3_128bits_digest(state);
  char hex[33];
  std::snprintf(hex, sizeof hex, "%016llx%016llx", static_cast<unsigned long long>(hash.high64),
                static_cast<unsigned long long>(hash.low64));
  return hex;
}

std::string ResultCache::entry_path(const std::string& key) const {
  // Two levels, so that no directory grows past a few thousand names.
  return directory_ + "/" + key.substr(0, 2) + "/" + key.substr(2);
}

std::optional<FileReport> ResultCache::load(const std::string& key, std::string_view path) const {
  int fd = -1;
  std::optional<std::string> bytes = read_whole(entry_path(key), &fd);
  if (!bytes) {
    ++misses_;
    return std::nullopt;
  }
  // The entry names its key, so that a file put there by anything else is
  // not taken for it.
  std::optional<FileReport> report;
  if (bytes->size() > key.size() && std::string_view(*bytes).substr(0, key.size()) == key) {
    report = decode_findings(std::string_view(*bytes).substr(key.size()), path);
  }
  if (report) {
    ::futimens(fd, nullptr);  // used now: pruning keeps it
    ++hits_;
  } else {
    ++misses_;
  }
  ::close(fd);
  return report;
}

void ResultCache::store(const std::string& key, const FileReport& report) const {
  std::string final_path = entry_path(key);
  std::string subdirectory = final_path.substr(0, final_path.rfind('/'));
  if (::mkdir(subdirectory.c_str(), 0777) != 0 && errno != EEXIST) {
    store_failed_ = true;
    return;
  }
  std::string temporary = temporary_name(final_path);
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    store_failed_ = true;
    return;
  }
  bool written = write_whole(fd, key) && write_whole(fd, encode_findings(report));
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), final_path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    store_failed_ = true;
    return;
  }
  ++stores_;
}

void ResultCache::prune() const {
  if (stores_.load() == 0) return;
  std::string stamp = directory_ + "/.pruned";
  struct stat status;
  std::time_t now = std::time(nullptr);
  if (::stat(stamp.c_str(), &status) == 0 && now - status.st_mtime < kPruneInterval) return;
  int fd = ::open(stamp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ::futimens(fd, nullptr);
    ::close(fd);
  }
  Directory top(::opendir(directory_.c_str()));
  if (!top) return;
  while (dirent* entry = ::readdir(top.get())) {
    std::string name = entry->d_name;
    if (name.size() != 2 || name[0] == '.') continue;
    std::string subdirectory = directory_ + "/" + name;
    Directory inner(::opendir(subdirectory.c_str()));
    if (!inner) continue;
    while (dirent* file = ::readdir(inner.get())) {
      if (file->d_name[0] == '.') continue;
      std::string path = subdirectory + "/" + file->d_name;
      if (::stat(path.c_str(), &status) == 0 && now - status.st_mtime > kUnusedForPruning) {
        ::unlink(path.c_str());
      }
    }
  }
}

}  // namespace keyhound
