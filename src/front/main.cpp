// The native `keyhound` command, on the same core as the Python module.

#include <unistd.h>

#include <csignal>
#include <exception>
#include <string>
#include <vector>

#include "cli/native_run.hpp"
#include "front/fault_report.hpp"
#include "base/temporary_file.hpp"
#include "front/out_of_memory.hpp"
#include "syntax/parse_memory.hpp"
#include "output/line_writer.hpp"
#include "server/language_server.hpp"

namespace {

constexpr int kClean = 0;
constexpr int kUsageOrUnreadable = 2;
constexpr int kInternalFault = keyhound::kInternalFaultStatus;

// `keyhound server`: the language server on standard input and output.
// To check a directory named `server`, name it `./server`.
int serve(const std::vector<std::string>& argv) {
  if (argv.size() > 2) {
    const bool help = argv[2] == "--help" || argv[2] == "-h";
    keyhound::BestEffortDescriptorWriter().write_line(
        help ? keyhound::Stream::Stdout : keyhound::Stream::Stderr,
        help ? "Usage: keyhound server\n\nRuns keyhound as a language server (the Language "
               "Server Protocol 3.17, on standard input and output) for editors."
             : "error: 'keyhound server' takes no arguments\n\nUsage: keyhound server");
    return help ? kClean : kUsageOrUnreadable;
  }
  // A client that goes away must end the server with a failed write, not
  // with a signal.
  std::signal(SIGPIPE, SIG_IGN);
  return keyhound::run_language_server(STDIN_FILENO, STDOUT_FILENO);
}

}  // namespace

int main(int argc, char** argv) {
  keyhound::set_out_of_memory_handler(keyhound::end_for_out_of_memory);
  keyhound::end_on_interrupt_signals();
  // Past a file-size limit a write fails (EFBIG) and is reported, rather
  // than the signal ending the run in the middle of an edit.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    std::vector<std::string> arguments(argv, argv + argc);
    if (arguments.size() >= 2 && arguments[1] == "server") return serve(arguments);
    return keyhound::run_native_command(std::move(arguments));
  } catch (const std::exception& fault) {
    keyhound::report_internal_fault(fault);
    return kInternalFault;
  }
}
