#include "base/temporary_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>

namespace keyhound {
namespace {

constexpr std::string_view kMarker = ".keyhound-";
constexpr std::size_t kRandomLetters = 6;
// Long names are cut so that the temporary name still fits NAME_MAX.
constexpr std::size_t kLongestStem = NAME_MAX - 1 - kMarker.size() - kRandomLetters;
constexpr long kStaleAfter = 3600;

// The live temporary files, for the signal handler, which may only read
// plain memory: a fixed table of slots, each claimed with a compare and
// swap. A file that finds no free slot is still removed on every other path.
struct Slot {
  std::atomic<int> state{0};  // 0 free, 1 being changed, 2 live
  int directory = -1;
  char name[NAME_MAX + 1] = {};
};
std::array<Slot, 256> g_slots;

int claim_slot(int directory, const std::string& name) {
  for (std::size_t i = 0; i < g_slots.size(); ++i) {
    int expected = 0;
    if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
    g_slots[i].directory = directory;
    std::memcpy(g_slots[i].name, name.c_str(), name.size() + 1);
    g_slots[i].state.store(2);
    return static_cast<int>(i);
  }
  return -1;
}

void release_slot(int slot) {
  if (slot < 0) return;
  g_slots[static_cast<std::size_t>(slot)].state.store(1);
  g_slots[static_cast<std::size_t>(slot)].state.store(0);
}

extern "C" void remove_and_end(int signal_number) {
  for (Slot& slot : g_slots) {
    if (slot.state.load() == 2) ::unlinkat(slot.directory, slot.name, 0);
  }
  ::_exit(128 + signal_number);
}

std::string stem_of(std::string_view final_name) {
  std::string stem(final_name.substr(0, kLongestStem));
  return "." + stem + std::string(kMarker);
}

std::string random_letters() {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[kRandomLetters];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // No entropy yet: time and address still differ between writers.
    auto mix = static_cast<unsigned long>(std::time(nullptr)) ^
               reinterpret_cast<std::uintptr_t>(&bytes) ^ static_cast<unsigned long>(::getpid());
    for (unsigned char& byte : bytes) {
      byte = static_cast<unsigned char>(mix);
      mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
    }
  }
  std::string letters;
  for (unsigned char byte : bytes) letters += kLetters[byte % (sizeof kLetters - 1)];
  return letters;
}

}  // namespace

std::expected<TemporaryFile, int> TemporaryFile::create(int directory,
                                                        std::string_view final_name,
                                                        mode_t mode) {
  FileDescriptor owned(::fcntl(directory, F_DUPFD_CLOEXEC, 0));
  if (!owned.is_open()) return std::unexpected(errno);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem_of(final_name) + random_letters();
    // Claimed before the file exists, so that a signal between the two
    // still finds it.
    int slot = claim_slot(owned.get(), name);
    FileDescriptor file(::openat(owned.get(), name.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (file.is_open()) {
      return TemporaryFile(std::move(owned), std::string(final_name), std::move(name),
                           std::move(file), slot);
    }
    int error = errno;
    release_slot(slot);
    if (error != EEXIST && error != EINTR) return std::unexpected(error);
  }
  return std::unexpected(EEXIST);
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : directory_(std::move(other.directory_)),
      final_name_(std::move(other.final_name_)),
      name_(std::exchange(other.name_, std::string())),
      file_(std::move(other.file_)),
      slot_(std::exchange(other.slot_, -1)) {}

TemporaryFile::~TemporaryFile() {
  if (!name_.empty()) ::unlinkat(directory_.get(), name_.c_str(), 0);
  forget();
}

void TemporaryFile::forget() {
  release_slot(slot_);
  slot_ = -1;
}

std::expected<void, int> TemporaryFile::commit() {
  if (::renameat(directory_.get(), name_.c_str(), directory_.get(), final_name_.c_str()) != 0) {
    return std::unexpected(errno);
  }
  name_.clear();
  forget();
  return {};
}

bool is_temporary_name_for(std::string_view name, std::string_view final_name) {
  std::string stem = stem_of(final_name);
  if (name.size() != stem.size() + kRandomLetters || !name.starts_with(stem)) return false;
  for (char c : name.substr(stem.size())) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letter) return false;
  }
  return true;
}

void remove_stale_temporaries(int directory, std::string_view final_name) {
  int listing = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(listing), ::closedir);
  if (!entries) {
    ::close(listing);
    return;
  }
  std::time_t now = std::time(nullptr);
  while (dirent* entry = ::readdir(entries.get())) {
    if (!is_temporary_name_for(entry->d_name, final_name)) continue;
    struct stat status;
    if (::fstatat(directory, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(status.st_mode) || now - status.st_mtime < kStaleAfter) continue;
    ::unlinkat(directory, entry->d_name, 0);
  }
}

void end_on_interrupt_signals() {
  struct sigaction action {};
  action.sa_handler = remove_and_end;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace keyhound
