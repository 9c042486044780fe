#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <tree_sitter/api.h>

#include "syntax/tree_sitter_handles.hpp"

namespace keyhound::testing {

// A test name made of the letters and digits of `text`, prefixed with the
// case's index so that names stay unique: gtest names must be identifiers.
std::string case_name(std::size_t index, std::string_view text);

// A parsed Python text that keeps its tree and text alive for a test.
class ParsedSource {
 public:
  explicit ParsedSource(std::string text);
  TSNode root() const { return ts_tree_root_node(tree_.get()); }
  std::string_view text() const { return text_; }
  // The first node, in pre-order, whose kind is `kind` (e.g. "subscript").
  TSNode first(std::string_view kind) const;
  // All nodes of that kind, in pre-order.
  std::vector<TSNode> all(std::string_view kind) const;
  std::string_view text_of(TSNode node) const;

 private:
  std::string text_;
  Parser parser_;
  Tree tree_;
};

// Everything written to descriptors 1 and 2 while it lives, read back at the
// end. Output goes to anonymous memory files, so no file is left behind.
class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  // Stops capturing (restoring the descriptors) and returns what was written.
  std::string out();
  std::string err();

 private:
  void stop();
  int saved_out_ = -1;
  int saved_err_ = -1;
  int out_file_ = -1;
  int err_file_ = -1;
  bool stopped_ = false;
};

}  // namespace keyhound::testing
