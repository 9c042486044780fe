#include "test_support.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

#include "syntax/preorder_walk.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/node_text.hpp"

namespace keyhound::testing {

std::string case_name(std::size_t index, std::string_view text) {
  std::string name = "case" + std::to_string(index) + "_";
  for (char c : text) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    name += keep ? c : '_';
    if (name.size() > 60) break;
  }
  return name;
}

ParsedSource::ParsedSource(std::string text)
    : text_(std::move(text)), parser_(ts_parser_new()) {
  ts_parser_set_language(parser_.get(), python_grammar().language);
  tree_.reset(ts_parser_parse_string(parser_.get(), nullptr, text_.data(),
                                     static_cast<uint32_t>(text_.size())));
  if (!tree_) throw std::runtime_error("no tree");
}

std::vector<TSNode> ParsedSource::all(std::string_view kind) const {
  std::vector<TSNode> nodes;
  walk_preorder(root(), [&](TSNode node) {
    if (ts_node_type(node) == kind) nodes.push_back(node);
  });
  return nodes;
}

TSNode ParsedSource::first(std::string_view kind) const {
  std::vector<TSNode> nodes = all(kind);
  if (nodes.empty()) throw std::runtime_error("no node of kind " + std::string(kind));
  return nodes.front();
}

std::string_view ParsedSource::text_of(TSNode node) const { return node_text(node, text_); }

namespace {

std::string read_back(int fd) {
  std::string content;
  ::lseek(fd, 0, SEEK_SET);
  char buffer[4096];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

}  // namespace

CapturedOutput::CapturedOutput() {
  out_file_ = memfd_create("captured-stdout", 0);
  err_file_ = memfd_create("captured-stderr", 0);
  saved_out_ = ::dup(STDOUT_FILENO);
  saved_err_ = ::dup(STDERR_FILENO);
  ::dup2(out_file_, STDOUT_FILENO);
  ::dup2(err_file_, STDERR_FILENO);
}

void CapturedOutput::stop() {
  if (stopped_) return;
  stopped_ = true;
  ::dup2(saved_out_, STDOUT_FILENO);
  ::dup2(saved_err_, STDERR_FILENO);
  ::close(saved_out_);
  ::close(saved_err_);
}

std::string CapturedOutput::out() {
  stop();
  return read_back(out_file_);
}

std::string CapturedOutput::err() {
  stop();
  return read_back(err_file_);
}

CapturedOutput::~CapturedOutput() {
  stop();
  ::close(out_file_);
  ::close(err_file_);
}

}  // namespace keyhound::testing
