#include "cache/entry_secret.hpp"

#include "base/home_directory.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/os_error.hpp"
#include "base/file_descriptor.hpp"
#include "base/plain_file.hpp"

extern "C" {
#include <blake2.h>
}

namespace keyhound {
namespace {

static_assert(sizeof(blake2b_state) <= 256);

std::expected<void, std::string> make_directories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      return std::unexpected("cannot create '" + prefix + "': " + os_error_text(errno));
    }
    if (slash == std::string::npos) return {};
  }
}

std::expected<EntrySecret, std::string> read_secret(const std::string& file) {
  struct stat status;
  auto bytes = read_plain_file_at(AT_FDCWD, file.c_str(),
                                  PlainReadOptions{.most_bytes = 64, .follow_links = false},
                                  &status);
  if (!bytes) return std::unexpected("cannot read '" + file + "': " + bytes.error().message);
  // Another user's secret, or one others may read, authenticates nothing.
  if (status.st_uid != ::geteuid() || (status.st_mode & 077) != 0) {
    return std::unexpected("'" + file + "' is not private to this user");
  }
  EntrySecret secret;
  if (bytes->size() != secret.size()) return std::unexpected("'" + file + "' is damaged");
  std::memcpy(secret.data(), bytes->data(), secret.size());
  return secret;
}

std::expected<void, std::string> create_secret(const std::string& directory,
                                               const std::string& file) {
  EntrySecret secret;
  if (::getrandom(secret.data(), secret.size(), 0) != static_cast<ssize_t>(secret.size())) {
    return std::unexpected("no random bytes for the cache secret: " + os_error_text(errno));
  }
  std::string temporary = directory + "/.secret-" + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  FileDescriptor fd(::open(temporary.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.is_open()) {
    return std::unexpected("cannot create '" + file + "': " + os_error_text(errno));
  }
  bool written = ::write(fd.get(), secret.data(), secret.size()) ==
                 static_cast<ssize_t>(secret.size());
  // link() fails when another run made the secret first: theirs is kept.
  if (written) ::link(temporary.c_str(), file.c_str());
  ::unlink(temporary.c_str());
  return {};
}

}  // namespace

std::string entry_secret_directory() {
  const char* cache_home = std::getenv("XDG_CACHE_HOME");
  if (cache_home != nullptr && cache_home[0] == '/') return std::string(cache_home) + "/keyhound";
  const std::string home = home_directory();
  if (!home.empty()) return home + "/.cache/keyhound";
  return {};
}

std::expected<EntrySecret, std::string> load_entry_secret() {
  std::string directory = entry_secret_directory();
  if (directory.empty()) {
    return std::unexpected("neither XDG_CACHE_HOME nor HOME is set, and the user has no home directory");
  }
  std::string file = directory + "/secret";
  struct stat status;
  if (::lstat(file.c_str(), &status) != 0) {
    if (errno != ENOENT) return std::unexpected("cannot read '" + file + "': " + os_error_text(errno));
    if (auto made = make_directories(directory); !made) return std::unexpected(made.error());
    if (auto created = create_secret(directory, file); !created) {
      return std::unexpected(created.error());
    }
  }
  return read_secret(file);
}

KeyedHash::KeyedHash(const EntrySecret& secret) {
  blake2b_init_key(reinterpret_cast<blake2b_state*>(state_), BLAKE2B_OUTBYTES, secret.data(),
                   secret.size());
}

KeyedHash::~KeyedHash() { std::memset(state_, 0, sizeof state_); }

void KeyedHash::add(std::string_view part) {
  auto* state = reinterpret_cast<blake2b_state*>(state_);
  uint64_t size = part.size();
  unsigned char length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(size >> (8 * i));
  blake2b_update(state, length, sizeof length);
  blake2b_update(state, part.data(), part.size());
}

std::string KeyedHash::finish(std::size_t bytes) {
  unsigned char out[BLAKE2B_OUTBYTES];
  blake2b_final(reinterpret_cast<blake2b_state*>(state_), out, sizeof out);
  return std::string(reinterpret_cast<const char*>(out), std::min<std::size_t>(bytes, sizeof out));
}

}  // namespace keyhound
