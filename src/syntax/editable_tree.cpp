#include "syntax/editable_tree.hpp"

#include <limits>

#include "base/internal_fault.hpp"
#include "syntax/parse_python.hpp"

namespace keyhound {

namespace {

TSPoint point_of(TextPoint point) { return TSPoint{point.row, point.byte_column}; }

Tree parse_with(TSParser* parser, const TSTree* old_tree, std::string_view source) {
  if (source.size() > std::numeric_limits<uint32_t>::max()) {
    throw InternalFault("source text larger than 4 GiB");
  }
  Tree tree(ts_parser_parse_string(parser, old_tree, source.data(),
                                   static_cast<uint32_t>(source.size())));
  if (!tree) throw InternalFault("Error parsing Python source: the parser returned no tree");
  return tree;
}

}  // namespace

EditableTree::EditableTree(std::string_view source)
    : parser_(make_python_parser()), tree_(parse_with(parser_.get(), nullptr, source)) {}

void EditableTree::edit(const TextEdit& edit) {
  const TSInputEdit input{edit.start_byte,       edit.old_end_byte,       edit.new_end_byte,
                          point_of(edit.start),  point_of(edit.old_end),  point_of(edit.new_end)};
  ts_tree_edit(tree_.get(), &input);
}

void EditableTree::reparse(std::string_view source) {
  tree_ = parse_with(parser_.get(), tree_.get(), source);
}

Tree EditableTree::snapshot() const { return Tree(ts_tree_copy(tree_.get())); }

}  // namespace keyhound
