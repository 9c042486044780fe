#include "project/glob_pattern.hpp"

#include <array>
#include <cctype>

namespace keyhound {
namespace {

// The POSIX classes wildmatch knows, over bytes.
bool in_class(std::string_view name, unsigned char byte) {
  const int c = byte;
  if (byte >= 0x80) return false;
  if (name == "alnum") return std::isalnum(c) != 0;
  if (name == "alpha") return std::isalpha(c) != 0;
  if (name == "blank") return c == ' ' || c == '\t';
  if (name == "cntrl") return std::iscntrl(c) != 0;
  if (name == "digit") return std::isdigit(c) != 0;
  if (name == "graph") return std::isgraph(c) != 0;
  if (name == "lower") return std::islower(c) != 0;
  if (name == "print") return std::isprint(c) != 0;
  if (name == "punct") return std::ispunct(c) != 0;
  if (name == "space") return std::isspace(c) != 0;
  if (name == "upper") return std::isupper(c) != 0;
  if (name == "xdigit") return std::isxdigit(c) != 0;
  return false;
}

bool is_known_class(std::string_view name) {
  static constexpr std::array<std::string_view, 12> kClasses = {
      "alnum", "alpha", "blank", "cntrl", "digit", "graph",
      "lower", "print", "punct", "space", "upper", "xdigit"};
  for (std::string_view known : kClasses) {
    if (name == known) return true;
  }
  return false;
}

}  // namespace

GlobPattern::GlobPattern(std::string_view pattern) {
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (c == '*') {
      // A run of stars is one star within a component.
      if (tokens_.empty() || tokens_.back().kind != Kind::AnyRun) tokens_.push_back({Kind::AnyRun});
      ++i;
      continue;
    }
    if (c == '?') {
      tokens_.push_back({Kind::AnyByte});
      ++i;
      continue;
    }
    if (c == '\\') {
      // A backslash at the very end matches nothing, as in wildmatch.
      if (i + 1 >= pattern.size()) {
        broken_ = true;
        return;
      }
      tokens_.push_back({Kind::Literal, static_cast<unsigned char>(pattern[i + 1])});
      i += 2;
      continue;
    }
    if (c != '[') {
      tokens_.push_back({Kind::Literal, static_cast<unsigned char>(c)});
      ++i;
      continue;
    }
    // A set: read to its closing bracket; a set that never closes makes
    // the whole pattern match nothing.
    std::bitset<256> set;
    std::size_t j = i + 1;
    bool negated = false;
    if (j < pattern.size() && (pattern[j] == '!' || pattern[j] == '^')) {
      negated = true;
      ++j;
    }
    bool first = true;
    bool closed = false;
    int previous = -1;  // the last single byte, for a range
    while (j < pattern.size()) {
      unsigned char byte = static_cast<unsigned char>(pattern[j]);
      if (byte == ']' && !first) {
        closed = true;
        ++j;
        break;
      }
      first = false;
      if (byte == '\\') {
        if (++j >= pattern.size()) break;
        byte = static_cast<unsigned char>(pattern[j]);
        set.set(byte);
        previous = byte;
        ++j;
        continue;
      }
      if (byte == '-' && previous >= 0 && j + 1 < pattern.size() && pattern[j + 1] != ']') {
        unsigned char high = static_cast<unsigned char>(pattern[j + 1]);
        std::size_t step = 2;
        if (high == '\\') {
          if (j + 2 >= pattern.size()) break;
          high = static_cast<unsigned char>(pattern[j + 2]);
          step = 3;
        }
        for (int b = previous; b <= high; ++b) set.set(static_cast<std::size_t>(b));
        previous = -1;
        j += step;
        continue;
      }
      if (byte == '[' && j + 1 < pattern.size() && pattern[j + 1] == ':') {
        std::size_t end = pattern.find(":]", j + 2);
        if (end == std::string_view::npos) {
          // Not a class after all: a plain bracket.
          set.set(byte);
          previous = byte;
          ++j;
          continue;
        }
        std::string_view name = pattern.substr(j + 2, end - (j + 2));
        if (!is_known_class(name)) {
          broken_ = true;
          return;
        }
        for (int b = 0; b < 256; ++b) {
          if (in_class(name, static_cast<unsigned char>(b))) set.set(static_cast<std::size_t>(b));
        }
        previous = -1;
        j = end + 2;
        continue;
      }
      set.set(byte);
      previous = byte;
      ++j;
    }
    if (!closed) {
      broken_ = true;
      return;
    }
    if (negated) set.flip();
    sets_.push_back(set);
    tokens_.push_back({Kind::Set, 0, sets_.size() - 1});
    i = j;
  }
}

bool GlobPattern::token_matches(const Token& token, unsigned char byte) const {
  switch (token.kind) {
    case Kind::Literal: return token.byte == byte;
    case Kind::AnyByte: return true;
    case Kind::Set: return sets_[token.set].test(byte);
    case Kind::AnyRun: return false;
  }
  return false;
}

bool GlobPattern::matches(std::string_view name) const {
  if (broken_) return false;
  // The classic matcher that remembers only the last star: when what
  // follows a star fails, only that star takes one more byte. Earlier stars
  // never need to, so the time stays linear in both lengths.
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star_p = SIZE_MAX;
  std::size_t star_t = 0;
  while (t < name.size()) {
    if (p < tokens_.size() && tokens_[p].kind == Kind::AnyRun) {
      star_p = ++p;
      star_t = t;
      continue;
    }
    if (p < tokens_.size() && token_matches(tokens_[p], static_cast<unsigned char>(name[t]))) {
      ++p;
      ++t;
      continue;
    }
    if (star_p == SIZE_MAX) return false;
    p = star_p;
    t = ++star_t;
  }
  while (p < tokens_.size() && tokens_[p].kind == Kind::AnyRun) ++p;
  return p == tokens_.size();
}

}  // namespace keyhound
