#include "syntax/comment_tokens.hpp"

#include "base/internal_fault.hpp"
#include "syntax/file_index.hpp"
#include "syntax/node_text.hpp"
#include "syntax/parse_python.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

std::map<uint32_t, std::vector<RowComment>> comments_by_row(std::string_view source) {
  Tree tree = parse_python(source);
  FileIndex index = index_file(ts_tree_root_node(tree.get()), source);
  std::map<uint32_t, std::vector<RowComment>> comments;
  for (TSNode comment : index.comments) {
    comments[ts_node_start_point(comment).row].push_back(
        {ts_node_start_byte(comment), ts_node_end_byte(comment)});
  }
  return comments;
}

std::vector<CommentToken> comment_tokens(const std::vector<TSNode>& comments,
                                         std::string_view source) {
  std::vector<CommentToken> tokens;
  tokens.reserve(comments.size());
  for (TSNode comment : comments) {
    TSPoint start = ts_node_start_point(comment);
    uint32_t byte = ts_node_start_byte(comment);
    // Whole-line: only blanks between the row's start and the comment.
    bool whole_line = true;
    for (uint32_t i = byte - start.column; i < byte; ++i) {
      if (source[i] != ' ' && source[i] != '\t' && source[i] != '\f') whole_line = false;
    }
    tokens.push_back({start.row, node_text(comment, source), whole_line});
  }
  return tokens;
}

}  // namespace keyhound
