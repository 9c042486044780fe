#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/text_positions.hpp"
#include "syntax/editable_tree.hpp"

namespace keyhound {

// One change of a document as the client sends it: a range and its new
// text, or the whole new text when there is no range.
struct ContentChange {
  std::optional<std::pair<LinePosition, LinePosition>> range;
  std::string text;
};

// A document the client has open: its text, version and syntax tree. Each
// change edits the tree where the text changed, and the tree is parsed
// again incrementally once all of a notification's changes are in.
class OpenDocument {
 public:
  OpenDocument(std::string uri, std::string path, int64_t version, std::string text);

  // Applies the changes in order. A range the text does not hold is
  // clamped to it, as the protocol says; the answer counts such ranges.
  std::size_t apply(const std::vector<ContentChange>& changes, int64_t version,
                    PositionEncoding encoding);

  const std::string& uri() const { return uri_; }
  const std::string& path() const { return path_; }
  int64_t version() const { return version_; }
  // The text as it is now, shared with the analyses that read it.
  std::shared_ptr<const std::string> text() const { return text_; }
  const LineStarts& lines() const { return lines_; }
  // Nothing while the document is too large to parse in the memory there
  // is (`refusal()` says so); parsed again once it fits.
  const EditableTree* tree() const { return tree_ ? &*tree_ : nullptr; }
  const std::optional<std::string>& refusal() const { return refusal_; }
  // Whether the user has been told of the refusal already: once a
  // document, not once a keystroke.
  bool refusal_told = false;

 private:
  // One ranged change; whether its range was inside the text.
  bool apply_range(const ContentChange& change, PositionEncoding encoding, std::string& text);

  std::string uri_;
  std::string path_;
  int64_t version_;
  std::shared_ptr<const std::string> text_;
  LineStarts lines_;
  std::optional<EditableTree> tree_;
  std::optional<std::string> refusal_;

  // A fresh tree of the whole text, or the refusal, when its parse would
  // need more memory than is left.
  void parse_afresh(const std::string& text);
};

}  // namespace keyhound
