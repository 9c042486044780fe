#include "project/discovery.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unordered_set>

#include "base/os_error.hpp"
#include "project/git_ignored.hpp"
#include "base/path_names.hpp"

namespace keyhound {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using Directory = std::unique_ptr<DIR, DirCloser>;

bool is_python_file_name(std::string_view name) {
  return name.size() > 3 && name.ends_with(".py");
}

// Walks one named directory without recursion, collecting the Python files
// beneath it and the places it could not read.
class DirectoryWalk {
 public:
  DirectoryWalk(const std::string& root, const DiscoveryOptions& options,
                std::vector<std::string>* skipped)
      : root_(root),
        options_(options),
        skipped_(skipped),
        skipped_before_(skipped != nullptr ? skipped->size() : 0) {
    if (options.respect_gitignore) ignored_ = git_ignored_paths(root);
  }

  std::vector<LintInput> run() {
    // Each pending directory: its path and its components below the root.
    std::vector<std::pair<std::string, std::vector<std::string>>> pending{{root_, {}}};
    while (!pending.empty()) {
      auto [directory, components] = std::move(pending.back());
      pending.pop_back();
      read_directory(directory, components, pending);
    }
    std::sort(found_.begin(), found_.end(),
              [](const LintInput& a, const LintInput& b) { return a.path < b.path; });
    if (skipped_ != nullptr) std::sort(skipped_->begin() + skipped_before_, skipped_->end());
    return std::move(found_);
  }

 private:
  void read_directory(const std::string& directory, const std::vector<std::string>& components,
                      std::vector<std::pair<std::string, std::vector<std::string>>>& pending) {
    Directory handle(::opendir(directory.c_str()));
    if (!handle) {
      add_error(directory, os_error_text(errno));
      return;
    }
    for (;;) {
      errno = 0;
      dirent* entry = ::readdir(handle.get());
      if (entry == nullptr) {
        if (errno != 0) add_error(directory, os_error_text(errno));
        break;
      }
      std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string path = join_path(directory, name);
      std::vector<std::string> below = components;
      below.emplace_back(name);

      bool is_directory = entry->d_type == DT_DIR;
      bool is_file = entry->d_type == DT_REG;
      bool is_other = !is_directory && !is_file && entry->d_type != DT_LNK &&
                      entry->d_type != DT_UNKNOWN;
      if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
        // Links to files are files; links to directories are not followed,
        // as git does not follow them.
        struct stat status;
        bool is_link = entry->d_type == DT_LNK;
        if (::stat(path.c_str(), &status) != 0) {
          int error = errno;
          // A loop of links is an error wherever it stands; a dangling link
          // matters only where a Python file was meant.
          if (error == ELOOP || is_python_file_name(name)) add_error(path, os_error_text(error));
          continue;
        }
        is_directory = S_ISDIR(status.st_mode) && !is_link;
        is_file = S_ISREG(status.st_mode);
        is_other = !S_ISDIR(status.st_mode) && !is_file;
      }
      // A FIFO would hold the run, a device such as /dev/zero never ends.
      if (is_other && is_python_file_name(name)) {
        if (skipped_ != nullptr) skipped_->push_back(escape_invalid_utf8(path));
        continue;
      }
      if (!is_directory && !(is_file && is_python_file_name(name))) continue;
      if (is_ignored_by_git(below, is_directory)) continue;
      std::string absolute = absolute_path(path, options_.working_directory);
      if (is_excluded(options_.exclusions, below, absolute, is_directory)) continue;
      if (is_directory) {
        pending.emplace_back(std::move(path), std::move(below));
      } else {
        found_.push_back(LintInput{escape_invalid_utf8(path), path, false, std::nullopt});
      }
    }
  }

  bool is_ignored_by_git(const std::vector<std::string>& below, bool is_directory) const {
    if (!ignored_) return false;
    std::string relative;
    for (const std::string& component : below) {
      if (!relative.empty()) relative += '/';
      relative += component;
    }
    if (is_directory) relative += '/';
    return ignored_->contains(relative);
  }

  void add_error(const std::string& path, std::string message) {
    found_.push_back(LintInput{escape_invalid_utf8(path), path, false, std::move(message)});
  }

  const std::string& root_;
  const DiscoveryOptions& options_;
  std::optional<std::unordered_set<std::string>> ignored_;
  std::vector<LintInput> found_;
  std::vector<std::string>* skipped_;
  std::size_t skipped_before_;
};

bool excluded_when_named(std::string_view name, const DiscoveryOptions& options) {
  if (!options.force_exclude) return false;
  struct stat status;
  std::string text(name);
  bool is_directory = ::stat(text.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
  return is_excluded(options.exclusions, path_components(name),
                     absolute_path(name, options.working_directory), is_directory);
}

}  // namespace

std::vector<LintInput> discover_inputs(std::span<const std::string> paths,
                                       const DiscoveryOptions& options,
                                       std::vector<std::string>* skipped) {
  std::vector<LintInput> inputs;
  for (const std::string& path : paths) {
    if (path == "-") {
      std::string display = options.stdin_filename.value_or("-");
      if (options.stdin_filename && excluded_when_named(display, options)) continue;
      inputs.push_back(LintInput{display, "", true, std::nullopt});
      continue;
    }
    if (excluded_when_named(path, options)) continue;
    struct stat status;
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
      std::vector<LintInput> found = DirectoryWalk(path, options, skipped).run();
      std::move(found.begin(), found.end(), std::back_inserter(inputs));
    } else {
      // Whatever it is, a named path is read: an error shows when it fails.
      inputs.push_back(LintInput{path, path, false, std::nullopt});
    }
  }
  return inputs;
}

}  // namespace keyhound
