#pragma once

#include <expected>
#include <string>

#include "analysis/line_writer.hpp"
#include "base/file_descriptor.hpp"

namespace keyhound {

// The report's standard-output lines written to a file, atomically: into a
// new file beside it, renamed over it by commit(). A run that ends early
// leaves the old file as it was and no stray file behind. Standard-error
// lines still go to the process's standard error.
class AtomicOutputFile final : public LineWriter {
 public:
  static std::expected<AtomicOutputFile, std::string> create(const std::string& path);
  AtomicOutputFile(AtomicOutputFile&& other) noexcept;
  AtomicOutputFile& operator=(AtomicOutputFile&&) = delete;
  ~AtomicOutputFile() override;

  void write_line(Stream stream, std::string_view line) override;
  // Puts the file in place; the error says why it could not be.
  std::expected<void, std::string> commit();

 private:
  AtomicOutputFile(std::string path, std::string temporary, FileDescriptor file)
      : path_(std::move(path)), temporary_(std::move(temporary)), file_(std::move(file)) {}

  std::string path_;
  std::string temporary_;
  FileDescriptor file_;
  DescriptorWriter standard_error_;
};

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

}  // namespace keyhound
