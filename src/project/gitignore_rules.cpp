#include "project/gitignore_rules.hpp"

#include <algorithm>

namespace keyhound {
namespace {

// A line's trailing spaces go, but for one escaped with a backslash.
std::string_view without_trailing_spaces(std::string_view line) {
  std::size_t end = line.size();
  while (end > 0 && line[end - 1] == ' ') {
    // Count the backslashes before this space: an odd number escapes it.
    std::size_t backslashes = 0;
    while (backslashes + 1 < end && line[end - 2 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 1) break;
    --end;
  }
  return line.substr(0, end);
}

// Whether `parts` match all of `path` from `at` on.
template <typename Part>
bool parts_match(const std::vector<Part>& parts, std::span<const std::string_view> path,
                 std::size_t from) {
  const std::size_t count = path.size() - from;
  // row[j]: parts[0, i) match path[from, from + j). A table, so that no
  // arrangement of `**` can make it slow.
  std::vector<char> row(count + 1, 0);
  std::vector<char> next(count + 1, 0);
  row[0] = 1;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::fill(next.begin(), next.end(), 0);
    if (parts[i].any_directories) {
      // At the end, `/**` needs something inside; elsewhere it may be none.
      const bool at_end = i + 1 == parts.size();
      char any = 0;
      for (std::size_t j = 0; j <= count; ++j) {
        if (at_end) {
          next[j] = any;
          any = static_cast<char>(any | row[j]);
        } else {
          any = static_cast<char>(any | row[j]);
          next[j] = any;
        }
      }
    } else {
      for (std::size_t j = 1; j <= count; ++j) {
        next[j] = static_cast<char>(row[j - 1] && parts[i].glob.matches(path[from + j - 1]));
      }
    }
    row.swap(next);
  }
  return row[count] != 0;
}

}  // namespace

std::unique_ptr<GitIgnorePattern> GitIgnorePattern::parse(std::string_view line) {
  line = without_trailing_spaces(line);
  if (line.empty() || line.front() == '#') return nullptr;
  auto pattern = std::unique_ptr<GitIgnorePattern>(new GitIgnorePattern());
  if (line.front() == '!') {
    pattern->negated_ = true;
    line.remove_prefix(1);
  }
  if (line.ends_with('/')) {
    pattern->directory_only_ = true;
    line.remove_suffix(1);
  }
  if (line.empty()) return nullptr;
  pattern->anchored_ = line.find('/') != std::string_view::npos;
  if (line.front() == '/') line.remove_prefix(1);
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t slash = line.find('/', start);
    if (slash == std::string_view::npos) slash = line.size();
    std::string_view part = line.substr(start, slash - start);
    // Only a `**` standing alone between slashes crosses directories;
    // elsewhere two stars are one.
    const bool any = pattern->anchored_ && part == "**";
    pattern->parts_.push_back(Part{any, GlobPattern(part)});
    start = slash + 1;
  }
  return pattern;
}

bool GitIgnorePattern::matches(std::span<const std::string_view> below,
                               bool is_directory) const {
  if (below.empty()) return false;
  if (directory_only_ && !is_directory) return false;
  if (!anchored_) return parts_.front().glob.matches(below.back());
  return parts_match(parts_, below, 0);
}

GitIgnoreFile parse_gitignore(std::string_view text, std::size_t base_depth) {
  GitIgnoreFile file;
  file.base_depth = base_depth;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (auto pattern = GitIgnorePattern::parse(line)) file.patterns.push_back(std::move(pattern));
  }
  return file;
}

bool GitIgnoreRules::is_ignored(std::span<const std::string_view> path,
                                bool is_directory) const {
  // The deepest source first, each from its last line: the first match is
  // the one that decides.
  for (const GitIgnoreRules* rules = this; rules != nullptr; rules = rules->parent_.get()) {
    const GitIgnoreFile* file = rules->file_.get();
    if (file == nullptr || file->base_depth >= path.size()) continue;
    std::span<const std::string_view> below = path.subspan(file->base_depth);
    for (auto pattern = file->patterns.rbegin(); pattern != file->patterns.rend(); ++pattern) {
      if ((*pattern)->matches(below, is_directory)) return !(*pattern)->negated();
    }
  }
  return false;
}

}  // namespace keyhound
