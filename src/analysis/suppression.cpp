#include "analysis/suppression.hpp"

#include <algorithm>

namespace keyhound {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

void skip_blanks(std::string_view& text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
}

bool take_word(std::string_view& text, std::string_view word, bool any_case) {
  if (text.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    char c = text[i];
    if (any_case && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  text.remove_prefix(word.size());
  return true;
}

// Codes as flake8 reads them: capital letters then digits, separated by
// commas or blanks. Stops at the first thing that is not one.
std::vector<std::string> take_codes(std::string_view& text) {
  std::vector<std::string> codes;
  for (;;) {
    std::string_view rest = text;
    while (!rest.empty() && (is_blank(rest.front()) || rest.front() == ',')) rest.remove_prefix(1);
    std::size_t letters = 0;
    while (letters < rest.size() && rest[letters] >= 'A' && rest[letters] <= 'Z') ++letters;
    std::size_t digits = 0;
    while (letters + digits < rest.size() && rest[letters + digits] >= '0' &&
           rest[letters + digits] <= '9') {
      ++digits;
    }
    if (letters == 0 || digits == 0) return codes;
    codes.emplace_back(rest.substr(0, letters + digits));
    text = rest.substr(letters + digits);
  }
}

// After "noqa": nothing more, or a colon and codes. Leaves `rest` after
// the last code.
Directive noqa_codes(std::string_view& rest) {
  skip_blanks(rest);
  Directive directive;
  if (!rest.empty() && rest.front() == ':') {
    rest.remove_prefix(1);
    directive.codes = take_codes(rest);
  }
  directive.all = directive.codes.empty();
  return directive;
}

}  // namespace

bool Directive::suppresses(std::string_view code) const {
  return all || std::find(codes.begin(), codes.end(), code) != codes.end();
}

void Directive::merge(const Directive& other) {
  all = all || other.all;
  if (!noqa_list_end) noqa_list_end = other.noqa_list_end;
  codes.insert(codes.end(), other.codes.begin(), other.codes.end());
}

std::optional<Directive> parse_line_directive(std::string_view comment) {
  std::optional<Directive> found;
  for (std::size_t hash = comment.find('#'); hash != std::string_view::npos;
       hash = comment.find('#', hash + 1)) {
    std::string_view rest = comment.substr(hash + 1);
    skip_blanks(rest);
    std::optional<Directive> directive;
    if (take_word(rest, "noqa", true)) {
      directive = noqa_codes(rest);
      if (!directive->all) directive->noqa_list_end = rest.data() - comment.data();
    } else if (take_word(rest, "keyhound", false)) {
      skip_blanks(rest);
      if (!take_word(rest, ":", false)) continue;
      skip_blanks(rest);
      if (!take_word(rest, "ignore", false)) continue;
      directive.emplace();
      if (!rest.empty() && rest.front() == '[') {
        rest.remove_prefix(1);
        directive->codes = take_codes(rest);
      }
      directive->all = directive->codes.empty();
    }
    if (!directive) continue;
    if (found) {
      found->merge(*directive);
    } else {
      found = directive;
    }
  }
  return found;
}

std::optional<Directive> parse_file_directive(std::string_view comment) {
  std::string_view rest = comment;
  skip_blanks(rest);
  if (!take_word(rest, "#", false)) return std::nullopt;
  skip_blanks(rest);
  if (!take_word(rest, "keyhound", false)) return std::nullopt;
  skip_blanks(rest);
  if (!take_word(rest, ":", false)) return std::nullopt;
  skip_blanks(rest);
  if (!take_word(rest, "noqa", true)) return std::nullopt;
  return noqa_codes(rest);
}

Suppressions::Suppressions(const std::vector<CommentToken>& comments,
                           std::vector<std::pair<uint32_t, uint32_t>> joined_rows) {
  std::sort(joined_rows.begin(), joined_rows.end());
  for (const auto& [first, last] : joined_rows) {
    if (!logical_lines_.empty() && first <= logical_lines_.back().second) {
      logical_lines_.back().second = std::max(logical_lines_.back().second, last);
    } else {
      logical_lines_.emplace_back(first, last);
    }
  }
  for (const CommentToken& comment : comments) {
    if (comment.whole_line) {
      if (auto file = parse_file_directive(comment.text)) {
        if (file_directive_) {
          file_directive_->merge(*file);
        } else {
          file_directive_ = file;
        }
        continue;
      }
    }
    if (auto directive = parse_line_directive(comment.text)) {
      directives_[logical_line(comment.row).first].merge(*directive);
    }
  }
}

std::pair<uint32_t, uint32_t> Suppressions::logical_line(uint32_t row) const {
  auto after = std::upper_bound(logical_lines_.begin(), logical_lines_.end(),
                                std::make_pair(row, UINT32_MAX));
  if (after != logical_lines_.begin()) {
    const auto& range = *(after - 1);
    if (range.first <= row && row <= range.second) return range;
  }
  return {row, row};
}

bool Suppressions::suppresses(std::string_view code, uint32_t first_row,
                              uint32_t last_row) const {
  if (file_directive_ && file_directive_->suppresses(code)) return true;
  for (uint32_t row : {first_row, last_row}) {
    auto found = directives_.find(logical_line(row).first);
    if (found != directives_.end() && found->second.suppresses(code)) return true;
  }
  return false;
}

uint32_t Suppressions::comment_row(uint32_t last_row) const {
  return logical_line(last_row).second;
}

}  // namespace keyhound
