#include "server/open_document.hpp"

#include <algorithm>

#include "base/memory_budget.hpp"

namespace keyhound {

namespace {

// Where a text inserted at `start` ends.
TextPoint end_after_insert(TextPoint start, std::string_view inserted) {
  std::size_t last_newline = inserted.rfind('\n');
  if (last_newline == std::string_view::npos) {
    return TextPoint{start.row, start.byte_column + static_cast<uint32_t>(inserted.size())};
  }
  const auto rows = static_cast<uint32_t>(std::count(inserted.begin(), inserted.end(), '\n'));
  return TextPoint{start.row + rows, static_cast<uint32_t>(inserted.size() - last_newline - 1)};
}

bool inside(const std::string& text, const LineStarts& lines, LinePosition position) {
  if (position.line >= lines.count()) return position.line == lines.count() && position.character == 0;
  return position.character <= lines.line(text, position.line).size();
}

}  // namespace

OpenDocument::OpenDocument(std::string uri, std::string path, int64_t version, std::string text)
    : uri_(std::move(uri)),
      path_(std::move(path)),
      version_(version),
      text_(std::make_shared<const std::string>(std::move(text))),
      lines_(*text_) {
  parse_afresh(*text_);
}

void OpenDocument::parse_afresh(const std::string& text) {
  tree_.reset();
  // The same estimate the command refuses a file by: the editor's parse
  // has no arena to count it, so it is judged before it starts.
  refusal_ = memory_refusal(text.size());
  if (!refusal_) {
    tree_.emplace(text);
    refusal_told = false;
  }
}

bool OpenDocument::apply_range(const ContentChange& change, PositionEncoding encoding,
                               std::string& text) {
  auto [from, to] = *change.range;
  const bool in_text = inside(text, lines_, from) && inside(text, lines_, to);
  uint32_t start = offset_of(text, lines_, from, encoding);
  uint32_t end = offset_of(text, lines_, to, encoding);
  if (end < start) std::swap(start, end);
  TextEdit edit;
  edit.start_byte = start;
  edit.old_end_byte = end;
  edit.new_end_byte = start + static_cast<uint32_t>(change.text.size());
  edit.start = lines_.point_of(start);
  edit.old_end = lines_.point_of(end);
  edit.new_end = end_after_insert(edit.start, change.text);
  text.replace(start, end - start, change.text);
  lines_.replace(start, end, change.text);
  if (tree_) tree_->edit(edit);
  return in_text;
}

std::size_t OpenDocument::apply(const std::vector<ContentChange>& changes, int64_t version,
                                PositionEncoding encoding) {
  std::string text = *text_;
  std::size_t outside = 0;
  bool whole = false;
  for (const ContentChange& change : changes) {
    if (!change.range) {
      text = change.text;
      lines_ = LineStarts(text);
      whole = true;
      continue;
    }
    if (whole) {
      // The tree knows nothing of the new whole text: it is parsed afresh
      // below, so the ranges after it edit the text alone.
      lines_ = LineStarts(text);
    }
    if (!apply_range(change, encoding, text)) ++outside;
  }
  if (whole || !tree_) {
    if (whole || !changes.empty()) parse_afresh(text);
  } else if (!changes.empty()) {
    if (auto refusal = memory_refusal(text.size())) {
      tree_.reset();
      refusal_ = std::move(refusal);
    } else {
      tree_->reparse(text);
    }
  }
  version_ = version;
  text_ = std::make_shared<const std::string>(std::move(text));
  return outside;
}

}  // namespace keyhound
