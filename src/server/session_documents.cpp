// The document side of a session: open documents, their analyses, the
// diagnostics published for them and their quick fixes.

#include "base/path_names.hpp"
#include "project/configuration.hpp"
#include "server/file_uri.hpp"
#include "server/json_members.hpp"
#include "server/lsp_session.hpp"
#include "server/quick_fixes.hpp"

namespace keyhound {

namespace {

std::optional<std::string> document_uri(const nlohmann::json& params) {
  return string_member(member(params, "textDocument"), "uri");
}

bool is_configuration_file(std::string_view uri) {
  return uri.ends_with("/pyproject.toml") || uri == "pyproject.toml";
}

std::optional<std::vector<ContentChange>> content_changes(const nlohmann::json& params) {
  const nlohmann::json& listed = member(params, "contentChanges");
  if (!listed.is_array()) return std::nullopt;
  std::vector<ContentChange> changes;
  for (const nlohmann::json& change : listed) {
    std::optional<std::string> text = string_member(change, "text");
    if (!text) return std::nullopt;
    ContentChange made{std::nullopt, std::move(*text)};
    if (!member(change, "range").is_null()) {
      made.range = range_of(member(change, "range"));
      if (!made.range) return std::nullopt;
    }
    changes.push_back(std::move(made));
  }
  return changes;
}

}  // namespace

DocumentSettings LspSession::settings_for(const std::string& path) {
  const std::string start = path.empty() ? root_directory_ : configuration_search_start(path);
  auto known = settings_by_directory_.find(start);
  if (known != settings_by_directory_.end()) return known->second;
  auto configuration = find_configuration(std::nullopt, start);
  std::expected<DocumentSettings, std::string> settled =
      configuration ? settle_document_settings(*configuration, overrides_, root_directory_)
                    : std::unexpected(configuration.error());
  if (!settled) {
    show_message(lsp_message::kError, "keyhound: " + settled.error() + "; the defaults are used");
    settled = default_document_settings(root_directory_);
  }
  if (overrides_.problem) {
    show_message(lsp_message::kWarning, "keyhound: " + *overrides_.problem + "; it is ignored");
  }
  return settings_by_directory_.emplace(start, std::move(*settled)).first->second;
}

std::string LspSession::report_path(const OpenDocument& document) const {
  if (document.path().empty()) return document.uri();
  // Inside the workspace a file is named as the command run from its root
  // names it.
  std::string relative = relative_path(document.path(), root_directory_);
  return relative.starts_with("..") ? document.path() : relative;
}

void LspSession::submit(OpenDocument& document) {
  {
    std::lock_guard lock(published_mutex_);
    published_[document.uri()].latest_version = document.version();
  }
  if (document.tree() == nullptr) {
    // Too large to parse here: no findings, and one message saying why.
    worker_->forget(document.uri());
    AnalysisResult refused{.uri = document.uri(), .version = document.version(),
                           .text = document.text(), .findings = {}, .fault = {}};
    if (!document.refusal_told) refused.fault = document.refusal().value_or("");
    document.refusal_told = true;
    publish(std::move(refused));
    return;
  }
  worker_->submit(AnalysisJob{.uri = document.uri(),
                              .version = document.version(),
                              .path = report_path(document),
                              .text = document.text(),
                              .tree = document.tree()->snapshot(),
                              .settings = settings_for(document.path())});
}

void LspSession::did_open(const nlohmann::json& params) {
  const nlohmann::json& item = member(params, "textDocument");
  auto uri = string_member(item, "uri");
  auto text = string_member(item, "text");
  const nlohmann::json& version = member(item, "version");
  if (!uri || !text || !version.is_number_integer()) {
    log_message(lsp_message::kError, "keyhound: a didOpen without uri, version and text");
    return;
  }
  std::string path;
  if (auto local = path_of_file_uri(*uri)) path = absolute_path(*local, root_directory_);
  documents_.erase(*uri);
  auto [place, added] = documents_.try_emplace(*uri, *uri, path, version.get<int64_t>(), std::move(*text));
  submit(place->second);
}

void LspSession::did_change(const nlohmann::json& params) {
  auto uri = document_uri(params);
  const nlohmann::json& version = member(member(params, "textDocument"), "version");
  auto changes = content_changes(params);
  if (!uri || !version.is_number_integer() || !changes) {
    log_message(lsp_message::kError, "keyhound: a didChange without uri, version and changes");
    return;
  }
  auto document = documents_.find(*uri);
  if (document == documents_.end()) {
    log_message(lsp_message::kError, "keyhound: a didChange for a document that is not open: " + *uri);
    return;
  }
  if (std::size_t outside = document->second.apply(*changes, version.get<int64_t>(), encoding_)) {
    log_message(lsp_message::kWarning,
                "keyhound: " + std::to_string(outside) +
                    " change range(s) beyond the document's text were clamped to it: " + *uri);
  }
  submit(document->second);
}

void LspSession::did_close(const nlohmann::json& params) {
  auto uri = document_uri(params);
  if (!uri || documents_.erase(*uri) == 0) return;
  worker_->forget(*uri);
  std::vector<nlohmann::json> waiting;
  {
    std::lock_guard lock(published_mutex_);
    auto state = published_.find(*uri);
    if (state != published_.end()) {
      waiting = std::move(state->second.waiting_pulls);
      published_.erase(state);
    }
    if (push_) {
      writer_.send(notification_message("textDocument/publishDiagnostics",
                                        {{"uri", *uri}, {"diagnostics", nlohmann::json::array()}}));
    }
  }
  for (const nlohmann::json& id : waiting) {
    writer_.send(response_message(id, {{"kind", "full"}, {"items", nlohmann::json::array()}}));
  }
}

void LspSession::reload_configurations() {
  settings_by_directory_.clear();
  shown_problems_.clear();
  for (auto& [uri, document] : documents_) submit(document);
}

void LspSession::did_save(const nlohmann::json& params) {
  auto uri = document_uri(params);
  if (uri && is_configuration_file(*uri)) reload_configurations();
}

void LspSession::watched_files_changed(const nlohmann::json& params) {
  const nlohmann::json& changes = member(params, "changes");
  if (!changes.is_array()) return;
  for (const nlohmann::json& change : changes) {
    auto uri = string_member(change, "uri");
    if (uri && is_configuration_file(*uri)) {
      reload_configurations();
      return;
    }
  }
}

}  // namespace keyhound
