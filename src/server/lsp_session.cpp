#include "server/lsp_session.hpp"

#include "base/path_names.hpp"
#include "base/version.hpp"
#include "server/file_uri.hpp"
#include "server/json_members.hpp"

namespace keyhound {

namespace {

bool offers_utf8(const nlohmann::json& params) {
  const nlohmann::json& encodings = member(member(params, "capabilities"), "general");
  const nlohmann::json& offered = member(encodings, "positionEncodings");
  if (!offered.is_array()) return false;
  for (const nlohmann::json& encoding : offered) {
    if (encoding.is_string() && encoding.get<std::string>() == "utf-8") return true;
  }
  return false;
}

// The workspace's root directory, from the newest of the ways a client
// names it.
std::optional<std::string> workspace_root(const nlohmann::json& params) {
  const nlohmann::json& folders = member(params, "workspaceFolders");
  if (folders.is_array() && !folders.empty() && member(folders[0], "uri").is_string()) {
    if (auto path = path_of_file_uri(member(folders[0], "uri").get<std::string>())) return path;
  }
  if (member(params, "rootUri").is_string()) {
    if (auto path = path_of_file_uri(member(params, "rootUri").get<std::string>())) return path;
  }
  if (member(params, "rootPath").is_string()) return member(params, "rootPath").get<std::string>();
  return std::nullopt;
}

}  // namespace

LspSession::LspSession(MessageWriter& writer) : writer_(writer) {}

void LspSession::refuse_frame(const std::string& why) {
  writer_.send(error_message(nullptr, lsp_error::kParseError, why));
}

bool LspSession::handle(std::string_view body) {
  if (nests_deeper_than(body, kDeepestNesting)) {
    writer_.send(error_message(nullptr, lsp_error::kParseError,
                               "the message nests deeper than " +
                                   std::to_string(kDeepestNesting) + " levels"));
    return true;
  }
  nlohmann::json message = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
  if (message.is_discarded()) {
    writer_.send(error_message(nullptr, lsp_error::kParseError, "the message is not valid JSON"));
    return true;
  }
  const nlohmann::json& id = member(message, "id");
  const nlohmann::json& method = member(message, "method");
  const bool has_id = message.is_object() && message.contains("id");
  if (!message.is_object() || !method.is_string()) {
    // A response to a request of ours (we send none that want one) is
    // left alone; anything else is not a message.
    if (has_id && (message.contains("result") || message.contains("error"))) return true;
    writer_.send(error_message(has_id ? id : nlohmann::json(nullptr), lsp_error::kInvalidRequest,
                               "the message has no method"));
    return true;
  }
  const nlohmann::json& params = member(message, "params");
  if (has_id) {
    if (!id.is_number_integer() && !id.is_string()) {
      writer_.send(error_message(nullptr, lsp_error::kInvalidRequest,
                                 "a request's id must be a number or a string"));
      return true;
    }
    on_request(id, method.get<std::string>(), params);
    return true;
  }
  return on_notification(method.get<std::string>(), params);
}

void LspSession::on_request(const nlohmann::json& id, const std::string& method,
                            const nlohmann::json& params) {
  if (method == "initialize") {
    if (initialized_) {
      writer_.send(error_message(id, lsp_error::kInvalidRequest, "initialize was already received"));
      return;
    }
    writer_.send(response_message(id, initialize(params)));
    return;
  }
  if (!initialized_) {
    writer_.send(error_message(id, lsp_error::kServerNotInitialized,
                               "the server is not initialized"));
    return;
  }
  if (shutdown_requested_) {
    writer_.send(error_message(id, lsp_error::kInvalidRequest, "the server is shutting down"));
    return;
  }
  if (method == "shutdown") {
    shutdown_requested_ = true;
    writer_.send(response_message(id, nullptr));
  } else if (method == "textDocument/diagnostic") {
    pull_diagnostics(id, params);
  } else if (method == "textDocument/codeAction") {
    code_actions(id, params);
  } else {
    writer_.send(error_message(id, lsp_error::kMethodNotFound, "unhandled method " + method));
  }
}

bool LspSession::on_notification(const std::string& method, const nlohmann::json& params) {
  if (method == "exit") return false;
  if (!initialized_ || shutdown_requested_) return true;
  if (method == "textDocument/didOpen") {
    did_open(params);
  } else if (method == "textDocument/didChange") {
    did_change(params);
  } else if (method == "textDocument/didClose") {
    did_close(params);
  } else if (method == "textDocument/didSave") {
    did_save(params);
  } else if (method == "workspace/didChangeWatchedFiles") {
    watched_files_changed(params);
  } else if (method == "$/cancelRequest") {
    cancel(params);
  }
  // Any other notification (initialized, $/setTrace, ...) asks for nothing.
  return true;
}

nlohmann::json LspSession::initialize(const nlohmann::json& params) {
  initialized_ = true;
  encoding_ = offers_utf8(params) ? PositionEncoding::Utf8 : PositionEncoding::Utf16;
  push_ = !member(member(params, "capabilities"), "textDocument").contains("diagnostic");
  root_directory_ = absolute_path(workspace_root(params).value_or(current_directory()),
                                  current_directory());
  overrides_ = read_setting_overrides(member(params, "initializationOptions"));
  worker_ = std::make_unique<AnalysisWorker>(
      root_directory_, [this](AnalysisResult result) { publish(std::move(result)); });
  nlohmann::json capabilities = {
      {"positionEncoding", encoding_ == PositionEncoding::Utf8 ? "utf-8" : "utf-16"},
      {"textDocumentSync",
       {{"openClose", true}, {"change", 2}, {"save", {{"includeText", false}}}}},
      {"codeActionProvider", {{"codeActionKinds", nlohmann::json::array({"quickfix"})}}},
      {"diagnosticProvider",
       {{"identifier", "keyhound"}, {"interFileDependencies", false},
        {"workspaceDiagnostics", false}}}};
  return {{"capabilities", std::move(capabilities)},
          {"serverInfo", {{"name", std::string(kCommandName)}, {"version", std::string(kVersion)}}}};
}

void LspSession::show_message(int type, const std::string& message) {
  // Each problem once: a configuration error must not pop up at every
  // keystroke.
  if (!shown_problems_.insert(message).second) return;
  writer_.send(notification_message("window/showMessage", {{"type", type}, {"message", message}}));
}

void LspSession::log_message(int type, const std::string& message) {
  writer_.send(notification_message("window/logMessage", {{"type", type}, {"message", message}}));
}

}  // namespace keyhound
