#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "project/glob_pattern.hpp"

namespace keyhound {

// One line of a gitignore file, compiled: git's rules, read natively.
//   - `!` in front negates (re-includes what an earlier line excluded);
//   - a trailing `/` matches directories only;
//   - a pattern with a slash at its start or in its middle is anchored to
//     the directory of the file it comes from and matched against the
//     whole path below it; one without is matched against the last
//     component at any depth;
//   - `**/` in front and `/**/` inside stand for any number of directories,
//     `/**` at the end for everything inside.
class GitIgnorePattern {
 public:
  // Nothing for a blank line or a comment.
  static std::unique_ptr<GitIgnorePattern> parse(std::string_view line);

  // `below` are the components of the path below the directory of the file
  // the pattern comes from.
  bool matches(std::span<const std::string_view> below, bool is_directory) const;
  bool negated() const { return negated_; }

 private:
  struct Part {
    bool any_directories;  // a `**` of its own
    GlobPattern glob;
  };
  bool negated_ = false;
  bool directory_only_ = false;
  bool anchored_ = false;
  std::vector<Part> parts_;
};

// The patterns of one source (a .gitignore file, .git/info/exclude, the
// global excludes file), in file order, with the depth of the directory
// they are relative to (its components below the work tree's top).
struct GitIgnoreFile {
  std::size_t base_depth = 0;
  std::vector<std::unique_ptr<GitIgnorePattern>> patterns;
};

// Every pattern of a gitignore text; a byte order mark and CRLF line ends
// are taken, trailing spaces dropped unless escaped, as git does.
GitIgnoreFile parse_gitignore(std::string_view text, std::size_t base_depth);

// The sources in force for one directory of a walk, lowest precedence
// first: the global excludes, .git/info/exclude, then each .gitignore from
// the top of the work tree down. A directory's rules share its parent's.
class GitIgnoreRules {
 public:
  GitIgnoreRules() = default;
  GitIgnoreRules(std::shared_ptr<const GitIgnoreRules> parent, std::shared_ptr<const GitIgnoreFile> file)
      : parent_(std::move(parent)), file_(std::move(file)) {}

  // Whether git ignores the path with these components below the top of
  // the work tree: the last pattern that matches decides, and a negated
  // one keeps the path.
  bool is_ignored(std::span<const std::string_view> path, bool is_directory) const;

 private:
  std::shared_ptr<const GitIgnoreRules> parent_;
  std::shared_ptr<const GitIgnoreFile> file_;
};

}  // namespace keyhound
