#include "front/process_args.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "base/file_descriptor.hpp"
#include "base/plain_file.hpp"

namespace keyhound {
namespace {

// glibc passes (argc, argv, envp) to the initialisers of every shared object
// it loads, dlopen'ed extension modules included. Plain pointers, so they are
// valid before any constructor of this library runs.
int g_argc = -1;
char** g_argv = nullptr;

void capture_arguments(int argc, char** argv, char**) {
  g_argc = argc;
  g_argv = argv;
}

[[gnu::used, gnu::section(".init_array")]] void (*const g_capture)(int, char**, char**) =
    capture_arguments;

// Fallback where the loader passed nothing: the kernel's copy.
std::vector<std::string> read_proc_cmdline() {
  std::vector<std::string> arguments;
  FileDescriptor file(::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC));
  if (!file.is_open()) return arguments;
  // The kernel caps a command line far below this.
  std::string content = read_to_end(file.get(), std::size_t{1} << 30).value_or(std::string());
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\0', start);
    if (end == std::string::npos) end = content.size();
    arguments.emplace_back(content, start, end - start);
    start = end + 1;
  }
  return arguments;
}

}  // namespace

std::vector<std::string> process_arguments() {
  if (g_argc < 0 || g_argv == nullptr) return read_proc_cmdline();
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(g_argc));
  for (int i = 0; i < g_argc && g_argv[i] != nullptr; ++i) arguments.emplace_back(g_argv[i]);
  return arguments;
}

}  // namespace keyhound
