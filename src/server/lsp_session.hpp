#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/analysis_worker.hpp"
#include "server/message_writer.hpp"
#include "server/open_document.hpp"
#include "server/server_settings.hpp"

namespace keyhound {

// The protocol's error codes the server answers with.
namespace lsp_error {
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kServerNotInitialized = -32002;
inline constexpr int kRequestCancelled = -32800;
}  // namespace lsp_error

// The types of window/showMessage and window/logMessage.
namespace lsp_message {
inline constexpr int kError = 1;
inline constexpr int kWarning = 2;
}  // namespace lsp_message

// What the analyses have published for one open document.
struct PublishedState {
  int64_t latest_version = 0;
  std::optional<AnalysisResult> result;
  // The result's diagnostics as JSON text, made once for every answer.
  std::string diagnostics;
  // Pull requests waiting for the analysis of the latest version.
  std::vector<nlohmann::json> waiting_pulls;
};

// One client's session: the lifecycle, the open documents and their
// analyses. The reading thread calls handle(); the worker's results come
// in through publish().
class LspSession {
 public:
  explicit LspSession(MessageWriter& writer);

  // Handles one message body; false once the client said `exit`.
  bool handle(std::string_view body);
  void refuse_frame(const std::string& why);
  int exit_status() const { return shutdown_requested_ ? 0 : 1; }

 private:
  void on_request(const nlohmann::json& id, const std::string& method, const nlohmann::json& params);
  bool on_notification(const std::string& method, const nlohmann::json& params);
  nlohmann::json initialize(const nlohmann::json& params);

  void did_open(const nlohmann::json& params);
  void did_change(const nlohmann::json& params);
  void did_close(const nlohmann::json& params);
  void did_save(const nlohmann::json& params);
  void watched_files_changed(const nlohmann::json& params);
  void pull_diagnostics(const nlohmann::json& id, const nlohmann::json& params);
  void code_actions(const nlohmann::json& id, const nlohmann::json& params);
  void cancel(const nlohmann::json& params);

  void submit(OpenDocument& document);
  void reload_configurations();
  DocumentSettings settings_for(const std::string& path);
  std::string report_path(const OpenDocument& document) const;
  void publish(AnalysisResult result);
  std::string diagnostics_of(const AnalysisResult& result) const;
  void show_message(int type, const std::string& message);
  void log_message(int type, const std::string& message);

  MessageWriter& writer_;
  bool initialized_ = false;
  bool shutdown_requested_ = false;
  PositionEncoding encoding_ = PositionEncoding::Utf16;
  // Publish diagnostics unasked, for a client that does not pull them.
  bool push_ = true;
  std::string root_directory_;
  SettingOverrides overrides_;
  std::map<std::string, OpenDocument> documents_;
  // Settings by the directory where their configuration search started.
  std::map<std::string, DocumentSettings> settings_by_directory_;
  std::set<std::string> shown_problems_;

  // Shared with the worker's thread.
  mutable std::mutex published_mutex_;
  std::map<std::string, PublishedState> published_;
  // Last: it stops before what it reports into goes away.
  std::unique_ptr<AnalysisWorker> worker_;
};

}  // namespace keyhound
