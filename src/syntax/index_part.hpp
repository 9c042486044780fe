#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "syntax/file_index.hpp"
#include "syntax/statement_move.hpp"

namespace keyhound {

// What the walk of one top-level statement added to a file's index, kept so
// that a later walk can add it again without walking the statement. Its
// definitions count from the statement's first; lookups and calls from
// its first of each.
struct IndexPart {
  struct Call {
    SourceSpan name;
    TSNode node;
    bool guarded;
    std::size_t owner;  // kNoDefinition at module level
  };
  struct Definition {
    TSNode node;
    SourceSpan name;
    std::size_t accesses_begin;
    std::size_t accesses_end;
    std::size_t calls_begin;
    std::size_t calls_end;
  };
  std::vector<TSNode> accesses;
  std::vector<bool> access_in_function;
  std::vector<std::size_t> access_owner;
  std::vector<Call> calls;
  std::vector<Definition> definitions;
  std::vector<TSNode> comments;
  std::vector<std::pair<uint32_t, uint32_t>> joined_rows;
};

// The part of `index` from `before` on, whose views are into `source`.
IndexPart index_part(const FileIndex& index, const IndexSizes& before, std::string_view source);

// Adds a part to the end of `index`, moved to where its statement stands.
void add_index_part(FileIndex& index, const IndexPart& part, const StatementMove& move);

}  // namespace keyhound
