#include "analysis/finding_maker.hpp"

#include "syntax/source_lines.hpp"
#include "syntax/token_text.hpp"

namespace keyhound {

AccessFinding FindingMaker::access(const std::string& function, TSNode node) const {
  Position start = positions().start_of(node);
  Position end = positions().end_of(node);
  return AccessFinding{.function = function,
                       .start = start,
                       .end = end,
                       .source_line = line_of(start),
                       .source_text = token_text(node, source_, kLongestSourceText),
                       .comment_row = suppressions_.comment_row(end.row)};
}

CallFinding FindingMaker::call(const std::string& function, const IndexedCall& call,
                               const FunctionEntry& callee, TSNode origin) const {
  Position start = positions().start_of(call.node);
  Position end = positions().end_of(call.node);
  return CallFinding{
      .function = function,
      .callee = std::string(call.name),
      .exceptions = std::vector<std::string>(callee.may_raise.begin(), callee.may_raise.end()),
      .start = start,
      .end = end,
      .source_line = line_of(start),
      .source_text = token_text(call.node, source_, kLongestSourceText),
      .origin = Origin{positions().start_of(origin)},
      .comment_row = suppressions_.comment_row(end.row)};
}

SyntaxErrorFinding FindingMaker::syntax_error(TSNode node) const {
  Position start = positions().start_of(node);
  Position end = positions().end_of(node);
  return SyntaxErrorFinding{start, end, line_of(start), suppressions_.comment_row(end.row)};
}

const std::vector<std::string_view>& FindingMaker::lines() const {
  if (!lines_) lines_ = source_lines(source_);
  return *lines_;
}

NodePositions& FindingMaker::positions() const {
  if (!positions_) positions_.emplace(lines());
  return *positions_;
}

SourceLine FindingMaker::line_of(Position start) const {
  SourceLine& line = shared_lines_[start.row];
  if (!line) line = make_source_line(line_at(lines(), start.row));
  return line;
}

}  // namespace keyhound
