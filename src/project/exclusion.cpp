#include "project/exclusion.hpp"

#include <fnmatch.h>

#include "base/path_names.hpp"

namespace keyhound {
namespace {

bool component_matches(const std::string& pattern, const std::string& name) {
  return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

// Whether `pattern` matches the first `count` components of `path` whole,
// `**` taking any number of components (zero included). A table over the
// two lists, so no pattern can make it slow.
bool matches_prefix(const std::vector<std::string>& pattern,
                    const std::vector<std::string>& path, std::size_t count) {
  const std::size_t m = pattern.size();
  // row[j]: pattern[0, i) matches path[0, j).
  std::vector<char> row(count + 1, 0);
  row[0] = 1;
  for (std::size_t i = 0; i < m; ++i) {
    std::vector<char> next(count + 1, 0);
    if (pattern[i] == "**") {
      char any = 0;
      for (std::size_t j = 0; j <= count; ++j) {
        any = static_cast<char>(any | row[j]);
        next[j] = any;
      }
    } else {
      for (std::size_t j = 1; j <= count; ++j) {
        next[j] = static_cast<char>(row[j - 1] && component_matches(pattern[i], path[j - 1]));
      }
    }
    row.swap(next);
  }
  return row[count] != 0;
}

}  // namespace

ExclusionPattern::ExclusionPattern(std::string_view pattern, std::string_view base_directory) {
  while (pattern.size() > 1 && pattern.ends_with('/')) {
    directory_only_ = true;
    pattern.remove_suffix(1);
  }
  anchored_ = pattern.find('/') != std::string_view::npos;
  if (anchored_) {
    // "/x" and "x/y" alike are relative to the base directory.
    std::string_view relative = pattern;
    while (relative.starts_with('/')) relative.remove_prefix(1);
    parts_ = path_components(absolute_path(relative, base_directory));
  } else {
    parts_ = {std::string(pattern)};
  }
}

bool ExclusionPattern::matches(const std::vector<std::string>& components,
                               std::string_view absolute, bool is_directory) const {
  if (!anchored_) {
    for (std::size_t i = 0; i < components.size(); ++i) {
      // Every component but the last is a directory.
      bool names_directory = i + 1 < components.size() || is_directory;
      if (directory_only_ && !names_directory) continue;
      if (component_matches(parts_[0], components[i])) return true;
    }
    return false;
  }
  std::vector<std::string> path = path_components(absolute);
  for (std::size_t count = 1; count <= path.size(); ++count) {
    bool names_directory = count < path.size() || is_directory;
    if (directory_only_ && !names_directory) continue;
    if (matches_prefix(parts_, path, count)) return true;
  }
  return false;
}

const std::vector<std::string>& default_exclusions() {
  static const std::vector<std::string> names = {
      ".bzr", ".direnv", ".eggs", ".git", ".git-rewrite", ".hg", ".mypy_cache", ".nox",
      ".pants.d", ".pytest_cache", ".pytype", ".ruff_cache", ".svn", ".tox", ".venv",
      "__pypackages__", "_build", "buck-out", "build", "dist", "node_modules", "site-packages",
      "venv", "__pycache__"};
  return names;
}

std::vector<ExclusionPattern> exclusion_patterns(const std::vector<std::string>& values,
                                                 std::string_view base_directory) {
  std::vector<ExclusionPattern> patterns;
  for (const std::string& value : values) {
    std::size_t start = 0;
    while (start <= value.size()) {
      std::size_t comma = value.find(',', start);
      if (comma == std::string::npos) comma = value.size();
      std::string_view item = std::string_view(value).substr(start, comma - start);
      while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
      while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
      if (!item.empty()) patterns.emplace_back(item, base_directory);
      start = comma + 1;
    }
  }
  return patterns;
}

bool is_excluded(const std::vector<ExclusionPattern>& patterns,
                 const std::vector<std::string>& components, std::string_view absolute,
                 bool is_directory) {
  for (const ExclusionPattern& pattern : patterns) {
    if (pattern.matches(components, absolute, is_directory)) return true;
  }
  return false;
}

}  // namespace keyhound
