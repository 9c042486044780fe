#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "analysis/statement_memo.hpp"
#include "server/document_findings.hpp"
#include "server/server_settings.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

// One version of a document to analyse, with a tree of its own.
struct AnalysisJob {
  std::string uri;
  int64_t version = 0;
  // The name reports give the file.
  std::string path;
  std::shared_ptr<const std::string> text;
  Tree tree;
  DocumentSettings settings;
};

struct AnalysisResult {
  std::string uri;
  int64_t version = 0;
  std::shared_ptr<const std::string> text;
  std::vector<ShownFinding> findings;
  // Set when the analysis failed inside: what to tell the user.
  std::string fault;
};

// Analyses documents on a thread of its own, so that reading the client's
// messages never waits for an analysis. A job for a document replaces the
// one still waiting for it: only the newest version is worth analysing.
class AnalysisWorker {
 public:
  using Done = std::function<void(AnalysisResult)>;

  AnalysisWorker(std::string working_directory, Done done);
  ~AnalysisWorker();
  AnalysisWorker(const AnalysisWorker&) = delete;
  AnalysisWorker& operator=(const AnalysisWorker&) = delete;

  void submit(AnalysisJob job);
  // Drops the waiting job of a document that was closed.
  void forget(const std::string& uri);

 private:
  void run(std::stop_token stop);
  // With the document's memo, made here when it has none yet.
  // The report the findings came from is left in `spent`, to be let go
  // once the result is on its way.
  AnalysisResult analyse(AnalysisJob& job, std::unique_ptr<DocumentMemo>& memo,
                         FileReport& spent) const;

  std::string working_directory_;
  Done done_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::map<std::string, AnalysisJob> waiting_;
  std::deque<std::string> order_;
  // Each open document's scopes, from its last analysis: held by the
  // thread while it analyses the document (`running_`), else here.
  std::map<std::string, std::unique_ptr<DocumentMemo>> memos_;
  std::string running_;
  bool running_forgotten_ = false;
  // Last: it starts once everything above exists, and stops first.
  std::jthread thread_;
};

}  // namespace keyhound
