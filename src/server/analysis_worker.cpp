#include "server/analysis_worker.hpp"

#include <algorithm>
#include <exception>
#include <new>

#include "analysis/analyze_file.hpp"
#include "base/internal_fault.hpp"
#include "run/report_stage.hpp"

namespace keyhound {

AnalysisWorker::AnalysisWorker(std::string working_directory, Done done)
    : working_directory_(std::move(working_directory)),
      done_(std::move(done)),
      thread_([this](std::stop_token stop) { run(stop); }) {}

AnalysisWorker::~AnalysisWorker() {
  thread_.request_stop();
  wake_.notify_all();
}

void AnalysisWorker::submit(AnalysisJob job) {
  {
    std::lock_guard lock(mutex_);
    std::string uri = job.uri;
    auto [place, added] = waiting_.insert_or_assign(uri, std::move(job));
    if (added) order_.push_back(std::move(uri));
  }
  wake_.notify_one();
}

void AnalysisWorker::forget(const std::string& uri) {
  std::lock_guard lock(mutex_);
  if (waiting_.erase(uri) > 0) order_.erase(std::find(order_.begin(), order_.end(), uri));
  memos_.erase(uri);
  if (running_ == uri) running_forgotten_ = true;
}

AnalysisResult AnalysisWorker::analyse(AnalysisJob& job, std::unique_ptr<DocumentMemo>& memo,
                                       FileReport& spent) const {
  AnalysisResult result{.uri = job.uri, .version = job.version, .text = job.text, .findings = {},
                        .fault = {}};
  try {
    if (!memo) memo = std::make_unique<DocumentMemo>();
    AnalysisOptions options = job.settings.analysis;
    // The diagnostics show no excerpt, and no baseline is matched here.
    options.excerpts = false;
    FileReport report = analyze_parsed(job.path, *job.text, root_of(job.tree), options, memo.get());
    if (report.outcome.status == FileStatus::ReadError) {
      // Refused (too large for the memory there is): said once, no findings.
      result.fault = report.outcome.message;
      return result;
    }
    ReportStage stage({job.settings.selection}, std::nullopt, std::nullopt, working_directory_);
    stage.process(report);
    result.findings = shown_findings(report);
    spent = std::move(report);
  } catch (const std::bad_alloc&) {
    result.findings.clear();
    result.fault = "not enough memory to analyse it";
  } catch (const std::exception& fault) {
    // The server outlives one document's fault, whatever it is: the user
    // hears of it, and the document shows no findings rather than stale
    // ones.
    result.findings.clear();
    result.fault = fault.what();
  }
  return result;
}

void AnalysisWorker::run(std::stop_token stop) {
  for (;;) {
    AnalysisJob job;
    std::unique_ptr<DocumentMemo> memo;
    {
      std::unique_lock lock(mutex_);
      // At exit the jobs still waiting are dropped, not analysed.
      if (!wake_.wait(lock, stop, [this] { return !order_.empty(); }) || stop.stop_requested()) {
        return;
      }
      auto place = waiting_.find(order_.front());
      order_.pop_front();
      job = std::move(place->second);
      waiting_.erase(place);
      auto kept = memos_.find(job.uri);
      if (kept != memos_.end()) {
        memo = std::move(kept->second);
        memos_.erase(kept);
      }
      running_ = job.uri;
      running_forgotten_ = false;
    }
    FileReport spent;
    AnalysisResult result = analyse(job, memo, spent);
    {
      // A document closed meanwhile lets its memo go.
      std::lock_guard lock(mutex_);
      running_.clear();
      try {
        if (!running_forgotten_ && memo) memos_.insert_or_assign(job.uri, std::move(memo));
      } catch (const std::bad_alloc&) {
        // Without the memo the next analysis builds every scope: slower, not wrong.
      }
    }
    // The tree goes before the result is handed on.
    job.tree.reset();
    AnalysisResult if_it_fails{.uri = result.uri, .version = result.version, .text = result.text,
                               .findings = {}, .fault = {}};
    try {
      done_(std::move(result));
    } catch (const std::exception& fault) {
      // Even a result that cannot be sent (memory ran out building it)
      // must not end the thread that serves every document.
      if_it_fails.fault = fault.what();
      try {
        done_(std::move(if_it_fails));
      } catch (const std::exception&) {
      }
    }
  }
}

}  // namespace keyhound
