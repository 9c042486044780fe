#include "run/parallel_lint.hpp"

#include <sched.h>
#include <unistd.h>

#include <condition_variable>
#include <exception>
#include <system_error>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "analysis/analyze_file.hpp"
#include "base/memory_budget.hpp"
#include "base/internal_fault.hpp"
#include "cache/result_cache.hpp"
#include "run/lint_input.hpp"

namespace keyhound {
namespace {

// What a worker leaves for the writer: the rendered lines of one file, or,
// when those would be large, the report itself, which the writer renders
// straight to the output.
struct RenderedFile {
  MemoryWriter lines;
  std::optional<FileReport> deferred;
  FileTally tally;
  FileStatus status = FileStatus::Clean;
  std::size_t findings = 0;
  std::string path;
  std::exception_ptr fault;
};

// A report whose excerpts come to more than this is not rendered into
// memory: a long line with thousands of lookups would be repeated once a
// finding.
constexpr std::size_t kLargestRenderedInMemory = 8u << 20;

std::size_t excerpt_bytes(const FileReport& report) {
  std::size_t bytes = 0;
  for (const Finding& finding : report.findings) {
    std::visit(
        [&](const auto& item) {
          if constexpr (requires { item.source_line; }) bytes += excerpt_of(item.source_line).size();
        },
        finding);
  }
  return bytes;
}

RenderedFile render(FileReport report, const LintInput& input, const ReportFormat& format,
                    const LintPlan& plan) {
  RenderedFile rendered;
  if (plan.stage != nullptr) rendered.tally = plan.stage->process(report, input.project);
  rendered.status = report.outcome.status;
  rendered.findings = count_findings(report);
  if (rendered.status == FileStatus::ReadError) rendered.path = report.path;
  if (excerpt_bytes(report) > kLargestRenderedInMemory) {
    rendered.deferred = std::move(report);
  } else {
    format.render(report, rendered.lines);
  }
  return rendered;
}

RenderedFile lint_and_render_unguarded(const LintInput& input, const ReportFormat& format,
                                       const LintPlan& plan) {
  // The native command keeps the default signal behaviour: with no
  // interrupt check, no read is ever reported as interrupted.
  std::expected<FileReport, Interrupted> linted = lint_input(input, plan.analysis, plan.cache);
  if (!linted) throw InternalFault("a read was interrupted with no interrupt check");
  return render(std::move(*linted), input, format, plan);
}

// Memory that runs out anywhere in one file's work (its reading, analysis,
// report) refuses that file, as a file too large to read is refused; the
// run goes on with the others.
RenderedFile lint_and_render(const LintInput& input, const ReportFormat& format,
                             const LintPlan& plan) {
  try {
    return lint_and_render_unguarded(input, format, plan);
  } catch (const std::bad_alloc&) {
    release_unused_memory();
    return render(FileReport{.path = input.display,
                             .findings = {},
                             .outcome = FileOutcome{FileStatus::ReadError,
                                                    "file too large to analyse in the "
                                                    "available memory"}},
                  input, format, plan);
  }
}

class WorkQueue {
 public:
  WorkQueue(std::span<const LintInput> inputs, std::size_t window, const ReportFormat& renderer,
            const LintPlan& plan)
      : inputs_(inputs), window_(window), renderer_(renderer), plan_(plan), done_(inputs.size()) {}

  // A worker's loop: take the next input inside the window, lint and render
  // it into memory, hand it over; until the inputs run out or the run stops.
  void work() {
    for (;;) {
      std::size_t index;
      {
        std::unique_lock lock(mutex_);
        worker_wakeup_.wait(lock, [&] {
          return stopped_ || next_ >= inputs_.size() || next_ < written_ + window_;
        });
        if (stopped_ || next_ >= inputs_.size()) return;
        index = next_++;
      }
      RenderedFile rendered;
      try {
        rendered = lint_and_render(inputs_[index], renderer_, plan_);
      } catch (...) {
        rendered.fault = std::current_exception();
      }
      {
        std::lock_guard lock(mutex_);
        done_[index] = std::move(rendered);
      }
      writer_wakeup_.notify_one();
    }
  }

  // The writer's side: the report of input `index`, once it is ready.
  RenderedFile take(std::size_t index) {
    std::unique_lock lock(mutex_);
    writer_wakeup_.wait(lock, [&] { return done_[index].has_value(); });
    RenderedFile rendered = std::move(*done_[index]);
    done_[index].reset();
    written_ = index + 1;
    lock.unlock();
    worker_wakeup_.notify_all();
    return rendered;
  }

  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    worker_wakeup_.notify_all();
  }

 private:
  std::span<const LintInput> inputs_;
  const std::size_t window_;
  const ReportFormat& renderer_;
  const LintPlan& plan_;
  std::mutex mutex_;
  std::condition_variable worker_wakeup_;
  std::condition_variable writer_wakeup_;
  std::vector<std::optional<RenderedFile>> done_;
  std::size_t next_ = 0;
  std::size_t written_ = 0;
  bool stopped_ = false;
};

// Stops the queue when the writer leaves, normally or by a fault, before
// the workers are joined.
class StopOnExit {
 public:
  explicit StopOnExit(WorkQueue& queue) : queue_(queue) {}
  ~StopOnExit() { queue_.stop(); }
  StopOnExit(const StopOnExit&) = delete;
  StopOnExit& operator=(const StopOnExit&) = delete;

 private:
  WorkQueue& queue_;
};

}  // namespace


FileLoopResult lint_inputs(std::span<const LintInput> inputs, unsigned jobs, LineWriter& out,
                           const ReportFormat& renderer, const LintPlan& plan) {
  FileLoopResult result;
  auto take = [&](RenderedFile& rendered) {
    if (rendered.deferred) {
      renderer.render(*rendered.deferred, out);
    } else {
      rendered.lines.replay(out);
    }
    result.count(rendered.status, rendered.findings, rendered.path);
    if (plan.stage != nullptr) plan.stage->tally(std::move(rendered.tally));
  };
  set_concurrent_parses(std::min<std::size_t>(jobs, std::max<std::size_t>(inputs.size(), 1)));
  if (jobs <= 1 || inputs.size() <= 1) {
    for (const LintInput& input : inputs) {
      RenderedFile rendered = lint_and_render(input, renderer, plan);
      take(rendered);
    }
    return result;
  }
  // Workers may run this many files ahead of the writer: enough that a
  // large file near the end does not leave the other workers idle, few
  // enough that memory stays bounded by a handful of reports.
  WorkQueue queue(inputs, std::size_t{jobs} * 16, renderer, plan);
  std::vector<std::jthread> workers;
  StopOnExit stop_on_exit(queue);
  unsigned wanted = static_cast<unsigned>(std::min<std::size_t>(jobs, inputs.size()));
  for (unsigned i = 0; i < wanted; ++i) {
    try {
      workers.emplace_back([&queue] { queue.work(); });
    } catch (const std::system_error&) {
      break;  // the system has no more threads or memory for their stacks
    }
  }
  if (workers.size() < wanted) {
    out.write_line(Stream::Stderr, "warning: only " + std::to_string(workers.size()) + " of " +
                                       std::to_string(wanted) +
                                       " worker threads could be started\n");
    set_concurrent_parses(std::max<unsigned>(static_cast<unsigned>(workers.size()), 1));
  }
  if (workers.empty()) {
    // Not one thread: the writer lints the files itself, in order.
    for (const LintInput& input : inputs) {
      RenderedFile rendered = lint_and_render(input, renderer, plan);
      take(rendered);
    }
    return result;
  }
  for (std::size_t index = 0; index < inputs.size(); ++index) {
    RenderedFile rendered = queue.take(index);
    if (rendered.fault) std::rethrow_exception(rendered.fault);
    take(rendered);
  }
  return result;
}

unsigned available_processors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

}  // namespace keyhound
