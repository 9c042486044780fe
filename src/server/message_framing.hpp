#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace keyhound {

// The largest message body the server reads; a larger frame is skipped
// unread, so that one client cannot make it hold any amount of memory.
inline constexpr std::size_t kLargestFrame = std::size_t{64} << 20;

// Reads the frames of the base protocol from a descriptor: header lines
// ending in CRLF (LF alone is taken too), a blank line, then exactly
// `Content-Length` bytes of body.
class FrameReader {
 public:
  explicit FrameReader(int fd, std::size_t largest_frame = kLargestFrame);

  // The next frame's body; an error (a sentence) for a frame that could not
  // be read and was skipped; nothing at the end of the input, including in
  // the middle of a frame.
  std::optional<std::expected<std::string, std::string>> next();

 private:
  // More bytes into the buffer; false at the end of the input.
  bool fill();
  // A header line without its line end; nothing at the end of the input.
  std::optional<std::string> read_line();
  // Exactly `count` bytes, kept or dropped; false at the end of the input.
  bool take(std::size_t count, std::string* into);
  // After a frame whose length is missing or unreadable: its body skipped
  // (a JSON message to where its brackets close), else everything up to
  // the next Content-Length header, so that one bad frame costs one error
  // and the frames after it are read as sent.
  void skip_unframed_body();
  std::optional<char> peek_past_blanks();
  enum class Skipped { Whole, Malformed, EndOfInput };
  Skipped skip_json_value();
  void resynchronise();

  int fd_;
  std::size_t largest_frame_;
  std::string buffer_;
  std::size_t start_ = 0;
  // Where the body being skipped began in the buffer (kept right when the
  // buffer drops what was read).
  std::size_t body_start_ = 0;
};

// `body` framed for sending.
std::string frame_message(std::string_view body);

}  // namespace keyhound
