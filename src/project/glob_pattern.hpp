#pragma once

#include <bitset>
#include <string_view>
#include <vector>

namespace keyhound {

// One path component's glob, as git's wildmatch reads it: `*` any run of
// bytes, `?` one byte, `[...]` a set (`!` or `^` negates it, `a-z` ranges,
// `[:alpha:]` classes), `\` takes the next byte literally. Compiled once;
// matching takes time linear in the pattern times the name, never more,
// whatever the pattern (the patterns come from the tree being checked).
class GlobPattern {
 public:
  explicit GlobPattern(std::string_view pattern);

  bool matches(std::string_view name) const;
  // A pattern that can never match (an unclosed `[`, as git has it).
  bool is_broken() const { return broken_; }

 private:
  enum class Kind : unsigned char { Literal, AnyByte, AnyRun, Set };
  struct Token {
    Kind kind;
    unsigned char byte = 0;
    std::size_t set = 0;  // index into sets_
  };
  bool token_matches(const Token& token, unsigned char byte) const;

  std::vector<Token> tokens_;
  std::vector<std::bitset<256>> sets_;
  bool broken_ = false;
};

}  // namespace keyhound
