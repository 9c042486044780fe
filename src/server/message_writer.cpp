#include "server/message_writer.hpp"

#include "base/write_all.hpp"
#include "formats/json_text.hpp"
#include "server/message_framing.hpp"

namespace keyhound {

namespace {

// Text that is not UTF-8 (a file name, a line of a document) is sent with
// replacement characters rather than refused.
std::string json_text(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

void MessageWriter::send(const nlohmann::json& message) { send_text(json_text(message)); }

void MessageWriter::send_text(std::string_view body) {
  const std::string framed = frame_message(body);
  std::lock_guard lock(mutex_);
  if (broken_) return;
  if (!write_whole(fd_, framed)) broken_ = true;
}

std::string response_text(const nlohmann::json& id, std::string_view result) {
  return JsonObject().string("jsonrpc", "2.0").raw("id", json_text(id)).raw("result", result).text();
}

std::string notification_text(std::string_view method, std::string_view params) {
  return JsonObject().string("jsonrpc", "2.0").string("method", method).raw("params", params).text();
}

nlohmann::json response_message(const nlohmann::json& id, nlohmann::json result) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

nlohmann::json error_message(const nlohmann::json& id, int code, std::string message) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", std::move(message)}}}};
}

nlohmann::json notification_message(std::string method, nlohmann::json params) {
  return {{"jsonrpc", "2.0"}, {"method", std::move(method)}, {"params", std::move(params)}};
}

}  // namespace keyhound
