// The diagnostics side of a session: what the analyses found, published
// or pulled, and the quick fixes offered on it.

#include <algorithm>
#include <optional>
#include <utility>

#include "formats/json_text.hpp"
#include "server/json_members.hpp"
#include "server/lsp_session.hpp"
#include "server/quick_fixes.hpp"

namespace keyhound {

namespace {

std::string full_report(std::string_view items) {
  return JsonObject().string("kind", "full").raw("items", items).text();
}

}  // namespace

std::string LspSession::diagnostics_of(const AnalysisResult& result) const {
  const LineStarts lines(*result.text);
  return lsp_diagnostics(result.findings, *result.text, lines, result.uri, encoding_);
}

// On the worker's thread. Whether a result is still the newest is decided
// under the same lock as its sending, so that no diagnostics of a version
// the client has since replaced ever reach it. The reading thread takes
// the lock to take the next change in, so what need not be under it is
// not: the diagnostics are written before, and what the result replaces
// is let go after.
void LspSession::publish(AnalysisResult result) {
  std::string items = diagnostics_of(result);
  std::optional<AnalysisResult> replaced;
  std::string replaced_items;
  std::lock_guard lock(published_mutex_);
  auto state = published_.find(result.uri);
  if (state == published_.end() || state->second.latest_version != result.version) return;
  if (!result.fault.empty()) {
    writer_.send(notification_message(
        "window/showMessage",
        {{"type", lsp_message::kError},
         {"message", "keyhound could not analyse " + result.uri + ": " + result.fault}}));
  }
  if (push_) {
    writer_.send_text(notification_text("textDocument/publishDiagnostics",
                                        JsonObject()
                                            .string("uri", result.uri)
                                            .raw("version", std::to_string(result.version))
                                            .raw("diagnostics", items)
                                            .text()));
  }
  for (const nlohmann::json& id : state->second.waiting_pulls) {
    writer_.send_text(response_text(id, full_report(items)));
  }
  state->second.waiting_pulls.clear();
  replaced = std::exchange(state->second.result, std::move(result));
  replaced_items = std::exchange(state->second.diagnostics, std::move(items));
}

void LspSession::pull_diagnostics(const nlohmann::json& id, const nlohmann::json& params) {
  auto uri = string_member(member(params, "textDocument"), "uri");
  if (!uri) {
    writer_.send(error_message(id, lsp_error::kInvalidParams, "textDocument.uri is missing"));
    return;
  }
  std::lock_guard lock(published_mutex_);
  auto state = published_.find(*uri);
  if (state == published_.end()) {
    // Not open: nothing is known of it.
    writer_.send_text(response_text(id, full_report("[]")));
    return;
  }
  const std::optional<AnalysisResult>& result = state->second.result;
  if (result && result->version == state->second.latest_version) {
    writer_.send_text(response_text(id, full_report(state->second.diagnostics)));
    return;
  }
  // Answered when the analysis of the newest version is done.
  state->second.waiting_pulls.push_back(id);
}

void LspSession::cancel(const nlohmann::json& params) {
  const nlohmann::json& id = member(params, "id");
  std::lock_guard lock(published_mutex_);
  for (auto& [uri, state] : published_) {
    auto waiting = std::find(state.waiting_pulls.begin(), state.waiting_pulls.end(), id);
    if (waiting == state.waiting_pulls.end()) continue;
    state.waiting_pulls.erase(waiting);
    writer_.send(error_message(id, lsp_error::kRequestCancelled, "the request was cancelled"));
    return;
  }
  // Every other request is answered as soon as it is read: nothing to stop.
}

void LspSession::code_actions(const nlohmann::json& id, const nlohmann::json& params) {
  auto uri = string_member(member(params, "textDocument"), "uri");
  auto range = range_of(member(params, "range"));
  if (!uri || !range) {
    writer_.send(error_message(id, lsp_error::kInvalidParams, "textDocument.uri or range is missing"));
    return;
  }
  auto document = documents_.find(*uri);
  std::vector<ShownFinding> findings;
  if (document != documents_.end()) {
    std::lock_guard lock(published_mutex_);
    auto state = published_.find(*uri);
    // Fixes are offered on the findings of the text as it is now only.
    if (state != published_.end() && state->second.result &&
        state->second.result->version == document->second.version()) {
      findings = state->second.result->findings;
    }
  }
  if (findings.empty()) {
    writer_.send(response_message(id, nlohmann::json::array()));
    return;
  }
  const OpenDocument& open = document->second;
  const std::string& text = *open.text();
  const uint32_t start = offset_of(text, open.lines(), range->first, encoding_);
  const uint32_t end = offset_of(text, open.lines(), range->second, encoding_);
  writer_.send(response_message(
      id, quick_fixes(open, findings, std::min(start, end), std::max(start, end), encoding_)));
}

}  // namespace keyhound
