#pragma once

#include <atomic>
#include <mutex>

#include <nlohmann/json.hpp>

namespace keyhound {

// Sends framed messages to the client from any thread, one whole frame at
// a time. Once a write fails (the client went away) it sends nothing more.
class MessageWriter {
 public:
  explicit MessageWriter(int fd) : fd_(fd) {}

  void send(const nlohmann::json& message);
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

}  // namespace keyhound
