#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace keyhound {

// Sends framed messages to the client from any thread, one whole frame at
// a time. Once a write fails (the client went away) it sends nothing more.
class MessageWriter {
 public:
  explicit MessageWriter(int fd) : fd_(fd) {}

  void send(const nlohmann::json& message);
  // A message already written as JSON text.
  void send_text(std::string_view body);
  bool broken() const { return broken_.load(); }

 private:
  int fd_;
  std::mutex mutex_;
  std::atomic<bool> broken_{false};
};

// The protocol's messages, as JSON-RPC 2.0 frames them.
nlohmann::json response_message(const nlohmann::json& id, nlohmann::json result);
nlohmann::json error_message(const nlohmann::json& id, int code, std::string message);
nlohmann::json notification_message(std::string method, nlohmann::json params);
// The same, around a result or parameters already written as JSON text.
std::string response_text(const nlohmann::json& id, std::string_view result);
std::string notification_text(std::string_view method, std::string_view params);

}  // namespace keyhound
