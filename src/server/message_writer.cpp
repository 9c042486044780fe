#include "server/message_writer.hpp"

#include "base/write_all.hpp"
#include "server/message_framing.hpp"

namespace keyhound {

void MessageWriter::send(const nlohmann::json& message) {
  // Text that is not UTF-8 (a file name, a line of a document) is sent with
  // replacement characters rather than refused.
  const std::string body = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  const std::string framed = frame_message(body);
  std::lock_guard lock(mutex_);
  if (broken_) return;
  if (!write_whole(fd_, framed)) broken_ = true;
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
