#include "syntax/comment_tokens.hpp"

#include "base/internal_fault.hpp"
#include "syntax/file_index.hpp"
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

}  // namespace keyhound
