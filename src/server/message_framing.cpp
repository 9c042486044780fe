#include "server/message_framing.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace keyhound {

namespace {

// Header lines longer than this are not headers: the reader drops them
// while it looks for the next frame.
constexpr std::size_t kLongestHeaderLine = 8192;
constexpr std::size_t kReadChunk = 65536;

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The value of a Content-Length header line, or why it is none.
std::expected<std::size_t, std::string> content_length(std::string_view value) {
  value = trimmed(value);
  std::size_t length = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
  if (value.empty() || error != std::errc() || end != value.data() + value.size()) {
    return std::unexpected("the frame's Content-Length is not a number: '" +
                           std::string(value.substr(0, 40)) + "'");
  }
  return length;
}

}  // namespace

FrameReader::FrameReader(int fd, std::size_t largest_frame)
    : fd_(fd), largest_frame_(largest_frame) {}

bool FrameReader::fill() {
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > kReadChunk) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  char chunk[kReadChunk];
  for (;;) {
    ssize_t got = ::read(fd_, chunk, sizeof chunk);
    if (got > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
}

std::optional<std::string> FrameReader::read_line() {
  bool dropping = false;
  for (;;) {
    std::size_t newline = buffer_.find('\n', start_);
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(start_, newline - start_);
      start_ = newline + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (dropping) return std::string(1, '\0');  // not a header: never matches one
      return line;
    }
    if (buffer_.size() - start_ > kLongestHeaderLine) {
      // Not a header line: drop what came so far and go on to its end.
      start_ = buffer_.size();
      dropping = true;
    }
    if (!fill()) return std::nullopt;
  }
}

bool FrameReader::take(std::size_t count, std::string* into) {
  while (count > 0) {
    if (start_ == buffer_.size() && !fill()) return false;
    std::size_t part = std::min(count, buffer_.size() - start_);
    if (into != nullptr) into->append(buffer_, start_, part);
    start_ += part;
    count -= part;
  }
  return true;
}

std::optional<std::expected<std::string, std::string>> FrameReader::next() {
  std::optional<std::expected<std::size_t, std::string>> length;
  bool any_header = false;
  for (;;) {
    std::optional<std::string> line = read_line();
    if (!line) return std::nullopt;
    if (line->empty()) {
      if (!any_header) continue;  // blank lines between frames
      break;
    }
    any_header = true;
    std::string_view text(*line);
    std::size_t colon = text.find(':');
    if (colon != std::string_view::npos &&
        equal_ignoring_case(trimmed(text.substr(0, colon)), "content-length")) {
      length = content_length(text.substr(colon + 1));
    }
  }
  if (!length) {
    return std::expected<std::string, std::string>(
        std::unexpect, "a frame without a Content-Length header was skipped");
  }
  if (!*length) return std::expected<std::string, std::string>(std::unexpect, length->error());
  if (**length > largest_frame_) {
    if (!take(**length, nullptr)) return std::nullopt;
    return std::expected<std::string, std::string>(
        std::unexpect, "a frame of " + std::to_string(**length) +
                           " bytes was refused: the largest is 64 MiB");
  }
  std::string body;
  body.reserve(**length);
  if (!take(**length, &body)) return std::nullopt;
  return body;
}

std::string frame_message(std::string_view body) {
  std::string framed = "Content-Length: ";
  framed += std::to_string(body.size());
  framed += "\r\n\r\n";
  framed += body;
  return framed;
}

}  // namespace keyhound
