#include "server/message_framing.hpp"

#include <unistd.h>

#include <algorithm>
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
    body_start_ -= std::min(body_start_, start_);
    buffer_.clear();
    start_ = 0;
  } else if (start_ > kReadChunk) {
    body_start_ -= std::min(body_start_, start_);
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
  if (!length || !*length) {
    // The body's end is unknown: skip it, so that the frames after it are
    // read as they were sent rather than from the middle of this one.
    std::string why = !length ? "a frame without a Content-Length header was skipped"
                              : length->error();
    skip_unframed_body();
    return std::expected<std::string, std::string>(std::unexpect, std::move(why));
  }
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

std::optional<char> FrameReader::peek_past_blanks() {
  for (;;) {
    while (start_ < buffer_.size()) {
      const char c = buffer_[start_];
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return c;
      ++start_;
    }
    if (!fill()) return std::nullopt;
  }
}

// Whether `c` may stand outside a string in JSON text: structure, numbers
// and the letters of true, false and null.
bool may_stand_outside_strings(char c) {
  static constexpr std::string_view kAllowed = " \t\r\n{}[],:-+.0123456789eEtrufalsn";
  return kAllowed.find(c) != std::string_view::npos;
}

FrameReader::Skipped FrameReader::skip_json_value() {
  // A message is a JSON object (or a batch, an array): its end is where
  // its brackets close, strings and their escapes taken into account. A
  // byte that JSON cannot hold where it stands (a control character in a
  // string, a header's letters outside one) means the body was no message
  // after all, or a damaged one.
  std::size_t depth = 0;
  std::size_t scanned = 0;
  bool in_string = false;
  bool escaped = false;
  for (;;) {
    while (start_ < buffer_.size()) {
      const char c = buffer_[start_];
      if (++scanned > largest_frame_) return Skipped::Malformed;
      if (in_string) {
        if (static_cast<unsigned char>(c) < 0x20) return Skipped::Malformed;
        ++start_;
        if (escaped) {
          escaped = false;
        } else if (c == '\\') {
          escaped = true;
        } else if (c == '"') {
          in_string = false;
        }
        continue;
      }
      if (!may_stand_outside_strings(c) && c != '"') return Skipped::Malformed;
      ++start_;
      if (c == '"') {
        in_string = true;
      } else if (c == '{' || c == '[') {
        ++depth;
      } else if ((c == '}' || c == ']') && depth > 0 && --depth == 0) {
        return Skipped::Whole;
      }
    }
    if (!fill()) return Skipped::EndOfInput;
  }
}

void FrameReader::resynchronise() {
  static constexpr std::string_view kHeader = "content-length";
  for (;;) {
    for (std::size_t at = start_; at + kHeader.size() <= buffer_.size(); ++at) {
      if (equal_ignoring_case(std::string_view(buffer_).substr(at, kHeader.size()), kHeader)) {
        start_ = at;
        return;
      }
    }
    // Keep what could be the start of a header cut by the read.
    if (buffer_.size() - start_ > kHeader.size()) start_ = buffer_.size() - kHeader.size();
    if (!fill()) {
      start_ = buffer_.size();
      return;
    }
  }
}

void FrameReader::skip_unframed_body() {
  std::optional<char> first = peek_past_blanks();
  if (!first) return;
  body_start_ = start_;
  if (*first == '{' || *first == '[') {
    Skipped skipped = skip_json_value();
    if (skipped != Skipped::Malformed) return;
    // The scan may have gone past the next frame's header before it saw
    // that the body was damaged: look for it again a header line back, but
    // never before this body began.
    constexpr std::size_t kHeaderLineBack = 96;
    start_ = std::max(body_start_, start_ > kHeaderLineBack ? start_ - kHeaderLineBack : 0);
  }
  // Not a message after all: the next frame starts at the next
  // Content-Length header.
  resynchronise();
}

std::string frame_message(std::string_view body) {
  std::string framed = "Content-Length: ";
  framed += std::to_string(body.size());
  framed += "\r\n\r\n";
  framed += body;
  return framed;
}

}  // namespace keyhound
