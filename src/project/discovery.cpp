#include "project/discovery.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unordered_set>

#include "base/os_error.hpp"
#include "project/git_work_tree.hpp"
#include "base/path_names.hpp"

namespace keyhound {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using Directory = std::unique_ptr<DIR, DirCloser>;

bool is_python_name(std::string_view name) { return name.size() > 3 && name.ends_with(".py"); }

bool is_notebook_name(std::string_view name) {
  return name.size() > 6 && name.ends_with(".ipynb");
}

// One directory waiting to be read.
struct PendingDirectory {
  std::string path;
  // Its components below the directory named, for the exclusions.
  std::vector<std::string> components;
  // Below the top of its work tree, and the ignore rules in force there;
  // no rules outside every work tree (or when git's rules are not asked for).
  std::vector<std::string> in_work_tree;
  std::shared_ptr<const GitIgnoreRules> rules;
};

// Walks one named directory without recursion, collecting the Python files
// beneath it and the places it could not read.
class DirectoryWalk {
 public:
  DirectoryWalk(const std::string& root, const DiscoveryOptions& options,
                std::vector<std::string>* skipped)
      : root_(root),
        options_(options),
        skipped_(skipped),
        skipped_before_(skipped != nullptr ? skipped->size() : 0) {}

  std::vector<LintInput> run() {
    std::vector<PendingDirectory> pending{root_entry()};
    while (!pending.empty()) {
      PendingDirectory directory = std::move(pending.back());
      pending.pop_back();
      read_directory(directory, pending);
    }
    std::sort(found_.begin(), found_.end(),
              [](const LintInput& a, const LintInput& b) { return a.path < b.path; });
    if (skipped_ != nullptr) std::sort(skipped_->begin() + skipped_before_, skipped_->end());
    return std::move(found_);
  }

 private:
  // The named directory, with the ignore files of the work tree above it:
  // what git would apply to the paths below it. The named directory itself
  // is never ignored: it was asked for.
  PendingDirectory root_entry() const {
    PendingDirectory entry{root_, {}, {}, nullptr};
    if (!options_.respect_gitignore) return entry;
    const std::string absolute = absolute_path(root_, options_.working_directory);
    std::optional<std::string> top = enclosing_work_tree(absolute);
    if (!top) return entry;
    entry.rules = work_tree_base_rules(*top);
    std::vector<std::string> top_parts = path_components(*top);
    std::vector<std::string> parts = path_components(absolute);
    std::string directory = *top;
    for (std::size_t i = top_parts.size(); i < parts.size(); ++i) {
      // The .gitignore files above the named directory.
      if (auto file = read_gitignore(directory, entry.in_work_tree.size())) {
        entry.rules = std::make_shared<GitIgnoreRules>(entry.rules, std::move(file));
      }
      entry.in_work_tree.push_back(parts[i]);
      directory = join_path(directory, parts[i]);
    }
    return entry;
  }

  // A Python file, or a notebook when notebooks are checked.
  bool is_source_name(std::string_view name) const {
    return is_python_name(name) || (options_.notebooks && is_notebook_name(name));
  }

  void read_directory(PendingDirectory& directory, std::vector<PendingDirectory>& pending) {
    Directory handle(::opendir(directory.path.c_str()));
    if (!handle) {
      add_error(directory.path, os_error_text(errno));
      return;
    }
    if (directory.rules) {
      if (auto file = read_gitignore(directory.path, directory.in_work_tree.size())) {
        directory.rules = std::make_shared<GitIgnoreRules>(directory.rules, std::move(file));
      }
    }
    for (;;) {
      errno = 0;
      dirent* entry = ::readdir(handle.get());
      if (entry == nullptr) {
        if (errno != 0) add_error(directory.path, os_error_text(errno));
        break;
      }
      std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string path = join_path(directory.path, name);

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
          if (error == ELOOP || is_source_name(name)) add_error(path, os_error_text(error));
          continue;
        }
        is_directory = S_ISDIR(status.st_mode) && !is_link;
        is_file = S_ISREG(status.st_mode);
        is_other = !S_ISDIR(status.st_mode) && !is_file;
      }
      // A FIFO would hold the run, a device such as /dev/zero never ends.
      if (is_other && is_source_name(name)) {
        if (skipped_ != nullptr) skipped_->push_back(escape_invalid_utf8(path));
        continue;
      }
      if (!is_directory && !(is_file && is_source_name(name))) continue;
      if (is_ignored_by_git(directory, name, is_directory)) continue;
      std::vector<std::string> below = directory.components;
      below.emplace_back(name);
      std::string absolute = absolute_path(path, options_.working_directory);
      if (is_excluded(options_.exclusions, below, absolute, is_directory)) continue;
      if (is_directory) {
        PendingDirectory next{path, std::move(below), directory.in_work_tree, directory.rules};
        next.in_work_tree.emplace_back(name);
        // A repository inside another keeps its own ignore rules only.
        if (options_.respect_gitignore && is_work_tree_top(path)) {
          next.in_work_tree.clear();
          next.rules = work_tree_base_rules(absolute);
        }
        pending.push_back(std::move(next));
      } else {
        found_.push_back(LintInput{escape_invalid_utf8(path), path, false, std::nullopt, 0, root_});
      }
    }
  }

  bool is_ignored_by_git(const PendingDirectory& directory, std::string_view name,
                         bool is_directory) const {
    if (!directory.rules) return false;
    std::vector<std::string_view> path(directory.in_work_tree.begin(),
                                       directory.in_work_tree.end());
    path.push_back(name);
    return directory.rules->is_ignored(path, is_directory);
  }

  void add_error(const std::string& path, std::string message) {
    found_.push_back(LintInput{escape_invalid_utf8(path), path, false, std::move(message)});
  }

  const std::string& root_;
  const DiscoveryOptions& options_;
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
      std::size_t slash = path.rfind('/');
      std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
      inputs.push_back(LintInput{path, path, false, std::nullopt, 0, std::move(directory)});
    }
  }
  return inputs;
}

}  // namespace keyhound
