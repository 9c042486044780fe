#include "run/add_noqa.hpp"

#include "notebook/notebook_source.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <map>
#include <set>
#include <vector>

#include "analysis/analyze_file.hpp"
#include "analysis/finding_identity.hpp"
#include "formats/caret_renderer.hpp"
#include "run/noqa_editor.hpp"
#include "syntax/tokenizer_text.hpp"
#include "base/os_error.hpp"
#include "output/terminal_text.hpp"
#include "base/file_descriptor.hpp"
#include "base/temporary_file.hpp"
#include "base/write_all.hpp"
#include "run/file_loop.hpp"
#include "output/output_file.hpp"

namespace keyhound {
namespace {

// Rounds per file: each one suppresses what the last left; two settle every
// file seen so far, the rest is a margin.
constexpr int kMostRounds = 5;

void report_error(LineWriter& out, const std::string& path, const std::string& message) {
  print_file_outcome(out, path, FileOutcome{FileStatus::ReadError, message});
}

// What the file was when it was read: if any of it differs when the edit
// is written, someone else changed the file meanwhile.
struct Identity {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;

  static Identity of(const struct stat& status) {
    return {status.st_dev, status.st_ino, status.st_size, status.st_mtim};
  }
  bool operator==(const Identity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

struct ReadFile {
  std::string text;
  struct stat status;
};

std::expected<ReadFile, std::string> read_for_editing(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.is_open()) return std::unexpected(os_error_text(errno));
  ReadFile read;
  if (::fstat(file.get(), &read.status) != 0) return std::unexpected(os_error_text(errno));
  if (!S_ISREG(read.status.st_mode)) return std::unexpected("not a regular file");
  ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
  auto text = read_source_descriptor(file.get());
  if (!text) return std::unexpected(text.error().message);
  read.text = std::move(*text);
  return read;
}

const std::string kChanged = "it changed while keyhound was running; left as it was";

bool unchanged(const std::string& path, const struct stat& when_read) {
  struct stat now;
  return ::stat(path.c_str(), &now) == 0 && Identity::of(now) == Identity::of(when_read);
}

// Copies the extended attributes of `from` to `to`, as far as this user may
// set them.
void copy_extended_attributes(int from, int to) {
  ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size <= 0) return;
  std::vector<char> names(static_cast<std::size_t>(size));
  size = ::flistxattr(from, names.data(), names.size());
  for (ssize_t at = 0; at < size;) {
    const char* name = names.data() + at;
    at += static_cast<ssize_t>(std::strlen(name)) + 1;
    ssize_t length = ::fgetxattr(from, name, nullptr, 0);
    if (length < 0) continue;
    std::vector<char> value(static_cast<std::size_t>(length));
    length = ::fgetxattr(from, name, value.data(), value.size());
    if (length >= 0) ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(length), 0);
  }
}

// Holds SIGINT, SIGTERM and SIGHUP while it lives: a copy over a file's own
// bytes is finished (or undone) before an interrupt ends the run.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &held, &before_);
  }
  ~HeldSignals() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t before_;
};

bool write_whole_at(int fd, std::string_view text) {
  for (std::size_t done = 0; done < text.size();) {
    ssize_t now = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (now < 0 && errno == EINTR) continue;
    if (now <= 0) {
      if (now == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(now);
  }
  return true;
}

// A file with several names is edited in place: replacing it would leave
// the other names with the old text. Room for the new text is made first,
// so that a full disk, a quota or a file-size limit fails before a byte
// changes; the old text stays in memory until the new one is whole, and
// should a write still fail, it is written back.
std::expected<void, std::string> rewrite_in_place(const std::string& path,
                                                  const std::string& old_text,
                                                  const std::string& text) {
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!file.is_open()) file = FileDescriptor(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (!file.is_open()) return std::unexpected(os_error_text(errno));
  if (text.size() > old_text.size()) {
    if (int error = ::posix_fallocate(file.get(), 0, static_cast<off_t>(text.size())); error != 0) {
      // Whatever the fallback wrote lies past the old end: cut it off again.
      if (::ftruncate(file.get(), static_cast<off_t>(old_text.size())) != 0) {
        return std::unexpected("no room for the new text (" + os_error_text(error) +
                               "), and the file could not be cut back to its old length (" +
                               os_error_text(errno) + ")");
      }
      return std::unexpected("no room for the new text: " + os_error_text(error) +
                             "; left as it was");
    }
  }
  HeldSignals held;
  if (!write_whole_at(file.get(), text) ||
      ::ftruncate(file.get(), static_cast<off_t>(text.size())) != 0) {
    const int error = errno;
    const bool restored = write_whole_at(file.get(), old_text) &&
                          ::ftruncate(file.get(), static_cast<off_t>(old_text.size())) == 0;
    return std::unexpected(os_error_text(error) + (restored ? "; left as it was"
                                                            : "; the old text could not be "
                                                              "written back: the file is damaged"));
  }
  if (::fsync(file.get()) != 0) return std::unexpected(os_error_text(errno));
  return {};
}

// Whether `path` leads to a place inside `root` once every link is
// followed: an edit never leaves what the user named.
bool lies_inside(const std::string& path, const std::string& root) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), std::free);
  std::unique_ptr<char, decltype(&std::free)> real_root(::realpath(root.c_str(), nullptr),
                                                         std::free);
  if (!real || !real_root) return false;
  std::string_view inside(real.get());
  std::string_view top(real_root.get());
  if (top == "/") return true;
  return inside.size() > top.size() && inside.starts_with(top) && inside[top.size()] == '/';
}

std::expected<void, std::string> replace_file(const std::string& path, const std::string& old_text,
                                              const std::string& text,
                                              const struct stat& when_read) {
  // A file without write permission stays as it is, even for root.
  if ((when_read.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) {
    return std::unexpected(os_error_text(EACCES));
  }
  if (!unchanged(path, when_read)) return std::unexpected(kChanged);
  if (when_read.st_nlink > 1) return rewrite_in_place(path, old_text, text);
  // The replacement goes where a link points, so the link stays a link.
  auto place = replacement_place(path);
  if (!place) return std::unexpected(os_error_text(place.error()));
  remove_stale_temporaries(place->directory.get(), place->name);
  auto file = TemporaryFile::create(place->directory.get(), place->name, 0600);
  if (!file) return std::unexpected(os_error_text(file.error()));
  if (!write_whole(file->fd(), text)) return std::unexpected(os_error_text(errno));
  FileDescriptor original(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (original.is_open()) copy_extended_attributes(original.get(), file->fd());
  // Owner and group first: changing them may clear the set-id bits.
  if (::fchown(file->fd(), when_read.st_uid, when_read.st_gid) != 0 &&
      (when_read.st_uid != ::geteuid())) {
    return std::unexpected("cannot keep the file's owner: " + os_error_text(errno));
  }
  ::fchmod(file->fd(), when_read.st_mode & 07777);
  if (::fsync(file->fd()) != 0) return std::unexpected(os_error_text(errno));
  // The last look before the rename: an append in between would be lost.
  if (!unchanged(path, when_read)) return std::unexpected(kChanged);
  if (auto renamed = file->commit(); !renamed) return std::unexpected(os_error_text(renamed.error()));
  return {};
}

std::map<uint32_t, std::set<std::string>> codes_by_comment_row(const FileReport& report) {
  std::map<uint32_t, std::set<std::string>> codes_by_row;
  for (const Finding& finding : report.findings) {
    // A comment is never the answer to a comment that suppresses nothing.
    if (std::holds_alternative<UnusedSuppressionFinding>(finding)) continue;
    if (auto row = comment_row_of(finding)) codes_by_row[*row].emplace(code_of(finding));
  }
  return codes_by_row;
}

void report_refused(LineWriter& out, const std::string& display,
                    const std::map<uint32_t, std::set<std::string>>& refused) {
  for (const auto& [line, codes] : refused) {
    std::string joined;
    for (const std::string& code : codes) joined += (joined.empty() ? "" : ", ") + code;
    out.write_line(Stream::Stderr,
                   "warning: no noqa comment can be added for " + joined + " at '" +
                       terminal_safe_name(display) + "' line " + std::to_string(line) +
                       ": its line ends in a backslash that continues past the end of the file\n");
  }
}

}  // namespace

AddNoqaResult add_noqa(std::span<const LintInput> inputs, const ReportStage& stage,
                       bool precise, LineWriter& out,
                       std::span<const std::optional<std::string>> project_roots) {
  AddNoqaResult result;
  for (const LintInput& input : inputs) {
    if (input.is_stdin) continue;
    // A comment written into a notebook's JSON would break it.
    if (precise && is_notebook_path(input.path)) {
      out.write_line(Stream::Stderr, "warning: '" + terminal_safe_name(input.display) +
                                         "' left as it was: --add-noqa edits Python files only\n");
      continue;
    }
    if (input.error) {
      report_error(out, input.display, *input.error);
      result.any_error = true;
      continue;
    }
    auto read = read_for_editing(input.path);
    if (!read) {
      report_error(out, input.display, read.error());
      result.any_error = true;
      continue;
    }
    // Rows as the analysis counts them (a lone carriage return ends a row
    // in the readable mode); the file's own line ends are put back below.
    std::optional<std::string> tokenized = precise ? as_tokenized(read->text) : std::nullopt;
    std::string text = tokenized ? *tokenized : read->text;
    std::size_t added = 0;
    std::map<uint32_t, std::set<std::string>> refused;
    for (int round = 0; round < kMostRounds; ++round) {
      FileReport report = analyze_file(input.display, text, AnalysisOptions{true, precise});
      stage.process(report, input.project);
      auto codes_by_row = codes_by_comment_row(report);
      if (codes_by_row.empty()) break;
      NoqaEdit edit = add_noqa_comments(text, codes_by_row);
      refused = std::move(edit.refused);
      if (edit.comments_added == 0) break;
      added += edit.comments_added;
      text = std::move(edit.text);
    }
    report_refused(out, input.display, refused);
    if (added == 0) continue;
    if (tokenized) text = with_original_line_ends(read->text, text);
    // Only a file that would change is looked at: a link that leads
    // outside is refused, not followed.
    const std::optional<std::string> project_root =
        input.project < project_roots.size() ? project_roots[input.project] : std::nullopt;
    if (!input.named_root.empty() && !lies_inside(input.path, input.named_root) &&
        !(project_root && lies_inside(input.path, *project_root))) {
      out.write_line(Stream::Stderr,
                     "Error writing file '" + terminal_safe_name(input.display) +
                         "': a symbolic link leads it outside '" +
                         terminal_safe_name(input.named_root) + "'; left as it was\n");
      result.any_error = true;
      continue;
    }
    if (auto replaced = replace_file(input.path, read->text, text, read->status); !replaced) {
      out.write_line(Stream::Stderr, "Error writing file '" + terminal_safe_name(input.display) +
                                         "': " + terminal_safe_name(replaced.error()) + "\n");
      result.any_error = true;
      continue;
    }
    result.comments += added;
    ++result.files;
  }
  return result;
}

}  // namespace keyhound
