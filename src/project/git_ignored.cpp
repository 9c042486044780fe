#include "project/git_ignored.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "base/file_descriptor.hpp"
#include "base/plain_file.hpp"

extern char** environ;

namespace keyhound {
namespace {

// The names of the ignored files of a tree: a bound that no real tree nears.
constexpr std::size_t kLongestGitListing = std::size_t{1} << 30;

// A spawned child that is always waited for, so that no zombie is left
// whichever way the caller leaves.
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ~ChildProcess() { wait(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit status, or -1 when it did not exit normally.
  int wait() {
    if (pid_ <= 0) return status_;
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return status_;
  }

 private:
  pid_t pid_;
  int status_ = -1;
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

std::optional<std::unordered_set<std::string>> git_ignored_paths(const std::string& directory) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  FileDescriptor read_end(ends[0]);
  FileDescriptor write_end(ends[1]);

  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);

  std::vector<std::string> arguments = {"git",      "-C",          directory,
                                        "ls-files", "--others",    "--ignored",
                                        "--exclude-standard", "--directory", "-z"};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  if (posix_spawnp(&pid, "git", actions.get(), nullptr, argv.data(), environ) != 0) {
    return std::nullopt;  // no git
  }
  ChildProcess child(pid);
  write_end = FileDescriptor();

  auto output = read_to_end(read_end.get(), kLongestGitListing);
  read_end = FileDescriptor();  // git stops at a closed pipe rather than block
  if (child.wait() != 0 || !output) return std::nullopt;  // not a work tree, or git failed
  const std::string& listing = *output;

  std::unordered_set<std::string> ignored;
  std::size_t start = 0;
  while (start < listing.size()) {
    std::size_t end = listing.find('\0', start);
    if (end == std::string::npos) end = listing.size();
    if (end > start) ignored.emplace(listing, start, end - start);
    start = end + 1;
  }
  return ignored;
}

}  // namespace keyhound
