// Prints, for each file named, a hash of its whole syntax tree (every node's
// kind, field, byte range and error flags, in pre-order, with the shape of
// the tree) and the path. Built twice, against the patched and the published
// grammar, so that bench/scanner_trees.sh can show the patch changes no tree.

#include <tree_sitter/api.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

extern "C" const TSLanguage* tree_sitter_python(void);

namespace {

struct Hash {
  uint64_t value = 14695981039346656037ULL;
  void add(uint64_t word) {
    for (int i = 0; i < 8; ++i) {
      value ^= (word >> (i * 8)) & 0xFF;
      value *= 1099511628211ULL;
    }
  }
};

uint64_t tree_hash(const std::string& text) {
  TSParser* parser = ts_parser_new();
  ts_parser_set_language(parser, tree_sitter_python());
  TSTree* tree = ts_parser_parse_string(parser, nullptr, text.data(),
                                        static_cast<uint32_t>(text.size()));
  Hash hash;
  TSTreeCursor cursor = ts_tree_cursor_new(ts_tree_root_node(tree));
  for (;;) {
    TSNode node = ts_tree_cursor_current_node(&cursor);
    hash.add(ts_node_symbol(node));
    hash.add(ts_tree_cursor_current_field_id(&cursor));
    hash.add(ts_node_start_byte(node));
    hash.add(ts_node_end_byte(node));
    hash.add((ts_node_is_missing(node) ? 1 : 0) | (ts_node_is_error(node) ? 2 : 0) |
             (ts_node_is_extra(node) ? 4 : 0));
    if (ts_tree_cursor_goto_first_child(&cursor)) {
      hash.add(0xD0);  // down
      continue;
    }
    bool done = false;
    while (!ts_tree_cursor_goto_next_sibling(&cursor)) {
      if (!ts_tree_cursor_goto_parent(&cursor)) {
        done = true;
        break;
      }
      hash.add(0x0B);  // up
    }
    if (done) break;
  }
  ts_tree_cursor_delete(&cursor);
  ts_tree_delete(tree);
  ts_parser_delete(parser);
  return hash.value;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::printf("%016llx %s\n", static_cast<unsigned long long>(tree_hash(text)), argv[i]);
  }
  return 0;
}
