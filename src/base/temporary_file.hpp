#pragma once

#include <sys/types.h>

#include <expected>
#include <string>
#include <string_view>

#include "base/file_descriptor.hpp"

namespace keyhound {

// A new file written beside the one it will replace, named
// ".NAME.keyhound-XXXXXX" in the same directory, and renamed over NAME by
// commit(). Until then it is removed when it is dropped, and also when
// SIGINT or SIGTERM end the process (see end_on_interrupt_signals), so that
// no half-written file outlives a run.
class TemporaryFile {
 public:
  // Creates it in the directory open as `directory` (which it keeps a
  // descriptor of) with `mode`; the error is an errno value.
  static std::expected<TemporaryFile, int> create(int directory, std::string_view final_name,
                                                  mode_t mode);

  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  ~TemporaryFile();

  int fd() const { return file_.get(); }
  const std::string& name() const { return name_; }
  // Renames it over the final name; the error is an errno value.
  std::expected<void, int> commit();

 private:
  TemporaryFile(FileDescriptor directory, std::string final_name, std::string name,
                FileDescriptor file, int slot)
      : directory_(std::move(directory)),
        final_name_(std::move(final_name)),
        name_(std::move(name)),
        file_(std::move(file)),
        slot_(slot) {}
  void forget();

  FileDescriptor directory_;
  std::string final_name_;
  std::string name_;
  FileDescriptor file_;
  int slot_ = -1;
};

// Whether `name` is one of the temporary names made for `final_name`.
bool is_temporary_name_for(std::string_view name, std::string_view final_name);

// Removes the temporary files a killed run left for `final_name` in the
// directory open as `directory`: regular files of that name pattern older
// than an hour (a run still writing one is younger).
void remove_stale_temporaries(int directory, std::string_view final_name);

// From now on SIGINT and SIGTERM remove every live temporary file and end
// the process at once with status 128 + the signal's number (130, 143), as
// a shell reports a command it interrupted. For the native command only: a
// library must leave the process's signals alone.
void end_on_interrupt_signals();

}  // namespace keyhound
