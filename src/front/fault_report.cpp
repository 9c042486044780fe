#include "front/fault_report.hpp"

#include <pthread.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

#include "output/line_writer.hpp"
#include "base/internal_fault.hpp"

namespace keyhound {
namespace {

std::string thread_name() {
  if (::syscall(SYS_gettid) == ::getpid()) return "main";
  char name[32] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) == 0 && name[0] != '\0') return name;
  return "<unnamed>";
}

// The source file as the project names it (src/...), not the directory
// it happened to be built in.
std::string project_file_name(std::string_view built_path) {
  std::size_t at = built_path.rfind("/src/");
  return std::string(at == std::string_view::npos ? built_path : built_path.substr(at + 1));
}

}  // namespace

void report_internal_fault(const std::exception& fault) {
  std::string where = "unknown location";
  bool suggest_backtrace = true;
  if (const auto* internal = dynamic_cast<const InternalFault*>(&fault)) {
    const std::source_location& at = internal->where();
    where = project_file_name(at.file_name()) + ":" + std::to_string(at.line()) + ":" +
            std::to_string(at.column());
    suggest_backtrace = internal->cause() == InternalFault::Cause::MaybeBug;
  }
  BestEffortDescriptorWriter err;
  err.write_line(Stream::Stderr,
                 "keyhound: internal fault in thread '" + thread_name() + "' at " + where + ":\n");
  err.write_line(Stream::Stderr, std::string(fault.what()) + "\n");
  if (!suggest_backtrace) return;
  err.write_line(Stream::Stderr,
             "note: to see a backtrace, run the command again under gdb, which stops where "
             "the fault is raised: gdb -ex 'catch throw' -ex 'run <arguments and "
             "redirections>' -ex bt <program>\n");
}

}  // namespace keyhound
