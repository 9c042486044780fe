#pragma once

#include <sys/stat.h>

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "output/line_writer.hpp"
#include "base/file_descriptor.hpp"
#include "base/temporary_file.hpp"

namespace keyhound {

// The report's standard-output lines written to a file. A regular file (or
// the target of a link to one) is replaced atomically: the lines go into a
// new file beside it, renamed over it by commit(), so that a run that ends
// early leaves the old file as it was. A character device or a FIFO
// (/dev/null, a pipe) is written in place, never replaced. A write that
// fails is remembered and reported by commit(), not thrown. Standard-error
// lines still go to the process's standard error.
class AtomicOutputFile final : public LineWriter {
 public:
  static std::expected<AtomicOutputFile, std::string> create(const std::string& path);
  AtomicOutputFile(AtomicOutputFile&& other) noexcept = default;
  AtomicOutputFile& operator=(AtomicOutputFile&&) = delete;

  void write_line(Stream stream, std::string_view line) override;
  // Puts the file in place; the error says why it could not be.
  std::expected<void, std::string> commit();

 private:
  AtomicOutputFile(std::string path, std::optional<TemporaryFile> temporary, FileDescriptor direct)
      : path_(std::move(path)), temporary_(std::move(temporary)), direct_(std::move(direct)) {}
  int fd() const { return temporary_ ? temporary_->fd() : direct_.get(); }

  std::string path_;
  std::optional<TemporaryFile> temporary_;
  FileDescriptor direct_;
  int write_error_ = 0;
  DescriptorWriter standard_error_;
};

// Whether the file at `path` exists and is the same file (device and inode)
// as one of `inputs`: writing the report there would destroy a source.
bool is_one_of(const std::string& path, std::span<const std::string> inputs);

// Keeps the standard-output lines of a document format as its records and
// passes standard-error lines on.
class RecordCollector final : public LineWriter {
 public:
  explicit RecordCollector(LineWriter& errors) : errors_(errors) {}
  void write_line(Stream stream, std::string_view line) override;
  const std::vector<std::string>& records() const { return records_; }

 private:
  LineWriter& errors_;
  std::vector<std::string> records_;
};

// Where a file's replacement goes: the directory and name of the file a
// chain of symbolic links at `path` ends at (or `path` itself when it does
// not exist yet), so that replacing it keeps the links.
struct ReplacementPlace {
  FileDescriptor directory;
  std::string name;
};
std::expected<ReplacementPlace, int> replacement_place(const std::string& path);

// The process's file creation mask, without changing it for good.
mode_t current_umask();

}  // namespace keyhound
