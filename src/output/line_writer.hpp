#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace keyhound {

enum class Stream { Stdout, Stderr };

// Where rendered lines go. Every call hands over whole lines (most often
// one), each with its line feed, so that a writer can keep lines whole.
class LineWriter {
 public:
  virtual ~LineWriter() = default;
  virtual void write_line(Stream stream, std::string_view line) = 0;
};

// Writes to the process's descriptors 1 and 2: one write(2) per line, held
// under that stream's process-wide lock so that no other thread's output
// splits it, never through any interpreter's stream objects. A partial write
// is continued and an interrupted one repeated; a descriptor that is not
// open drops the line as written; any other failure is an InternalFault
// "failed printing to {stdout|stderr}: {description} (os error {number})".
class DescriptorWriter final : public LineWriter {
 public:
  void write_line(Stream stream, std::string_view line) override;
};

// Like DescriptorWriter, but a failed write is ignored: for the help text,
// the version line and command-line errors, whose exit status stands
// whatever became of the text.
class BestEffortDescriptorWriter final : public LineWriter {
 public:
  void write_line(Stream stream, std::string_view line) override;
};

// Keeps the lines in memory, in order, with their streams: for tests, and
// for worker threads whose output is written later in input order.
class MemoryWriter final : public LineWriter {
 public:
  static constexpr std::size_t kMostBatched = 1 << 16;

  void write_line(Stream stream, std::string_view line) override {
    lines_.emplace_back(stream, std::string(line));
  }

  const std::vector<std::pair<Stream, std::string>>& lines() const { return lines_; }
  // The text of one stream, lines joined.
  std::string text(Stream stream) const;
  // Hands every line, in order, to `target`: consecutive lines of one
  // stream together, as one text of whole lines.
  void replay(LineWriter& target) const;

 private:
  std::vector<std::pair<Stream, std::string>> lines_;
};

// The loop under DescriptorWriter, for any descriptor.
void write_all(int fd, std::string_view text, std::string_view stream_name);

}  // namespace keyhound
