// Frame sequences with a bad length, each followed by good requests: the
// frame reader must answer the bad frame with one error and then read the
// good frames as they were sent. The input is the bad frame's
// Content-Length value, a NUL, and its body. Whenever the value is no
// length and the body is one JSON message, the good frames must come
// through; for any input, nothing may crash or hang.

#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/message_framing.hpp"

namespace {

const std::string kGood = "Content-Length: 7\r\n\r\n{\"a\":1}";

bool is_a_length(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  if (value.empty()) return false;
  for (char c : value) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// One JSON object or array and nothing else, as a client sends a message.
bool is_one_message(std::string_view body) {
  // The JSON reader takes a NUL for the end of its input.
  if (body.find('\0') != std::string_view::npos) return false;
  std::size_t first = body.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || (body[first] != '{' && body[first] != '[')) return false;
  return nlohmann::json::accept(body.begin(), body.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view value = input.substr(0, split);
  const std::string_view body = split == std::string_view::npos ? "{}" : input.substr(split + 1);
  std::string bytes = "Content-Length: ";
  bytes += value;
  bytes += "\r\n\r\n";
  bytes += body;
  bytes += kGood;
  bytes += kGood;

  int ends[2];
  if (pipe(ends) != 0) std::abort();
  std::thread writer([&] {
    std::size_t written = 0;
    while (written < bytes.size()) {
      ssize_t now = write(ends[1], bytes.data() + written, bytes.size() - written);
      if (now <= 0) break;
      written += static_cast<std::size_t>(now);
    }
    close(ends[1]);
  });
  keyhound::FrameReader reader(ends[0]);
  std::vector<std::string> frames;
  while (auto frame = reader.next()) frames.push_back(*frame ? "body:" + **frame : "error");
  writer.join();
  close(ends[0]);

  const bool bad_length = !is_a_length(value) &&
                          value.find_first_of("\r\n") == std::string_view::npos;
  if (bad_length && is_one_message(body)) {
    const std::vector<std::string> expected = {"error", "body:{\"a\":1}", "body:{\"a\":1}"};
    if (frames != expected) std::abort();
  }
  return 0;
}
