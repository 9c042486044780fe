#include "base/home_directory.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace keyhound {

std::string home_directory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
    return {};
  }
  return found->pw_dir;
}

}  // namespace keyhound
