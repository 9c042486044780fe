#include "syntax/index_part.hpp"

namespace keyhound {

namespace {

std::size_t relative(std::size_t owner, std::size_t base) {
  return owner == kNoDefinition ? kNoDefinition : owner - base;
}

std::size_t absolute(std::size_t owner, std::size_t base) {
  return owner == kNoDefinition ? kNoDefinition : owner + base;
}

}  // namespace

IndexPart index_part(const FileIndex& index, const IndexSizes& before, std::string_view source) {
  IndexPart part;
  const std::size_t definitions = before.definitions;
  for (std::size_t a = before.accesses; a < index.accesses.size(); ++a) {
    part.accesses.push_back(index.accesses[a]);
    part.access_in_function.push_back(index.access_in_function[a]);
    part.access_owner.push_back(relative(index.access_owner[a], definitions));
  }
  for (std::size_t c = before.calls; c < index.calls.size(); ++c) {
    const IndexedCall& call = index.calls[c];
    part.calls.push_back({span_in(call.name, source), call.node, call.guarded,
                          relative(call.owner, definitions)});
  }
  for (std::size_t d = definitions; d < index.definitions.size(); ++d) {
    const DefinitionSpan& span = index.definitions[d];
    part.definitions.push_back({span.node, span_in(span.name, source),
                                span.accesses_begin - before.accesses,
                                span.accesses_end - before.accesses,
                                span.calls_begin - before.calls, span.calls_end - before.calls});
  }
  part.comments.assign(index.comments.begin() + static_cast<std::ptrdiff_t>(before.comments),
                       index.comments.end());
  part.joined_rows.assign(
      index.joined_rows.begin() + static_cast<std::ptrdiff_t>(before.joined_rows),
      index.joined_rows.end());
  return part;
}

void add_index_part(FileIndex& index, const IndexPart& part, const StatementMove& move) {
  const IndexSizes base = sizes_of(index);
  for (std::size_t a = 0; a < part.accesses.size(); ++a) {
    index.accesses.push_back(move.node(part.accesses[a]));
    index.access_in_function.push_back(part.access_in_function[a]);
    index.access_owner.push_back(absolute(part.access_owner[a], base.definitions));
  }
  for (const IndexPart::Call& call : part.calls) {
    index.calls.push_back({move.text(call.name), move.node(call.node), call.guarded,
                           absolute(call.owner, base.definitions)});
  }
  for (const IndexPart::Definition& definition : part.definitions) {
    index.definitions.push_back({move.node(definition.node), move.text(definition.name),
                                 definition.accesses_begin + base.accesses,
                                 definition.accesses_end + base.accesses,
                                 definition.calls_begin + base.calls,
                                 definition.calls_end + base.calls});
  }
  for (TSNode comment : part.comments) index.comments.push_back(move.node(comment));
  for (auto [first, last] : part.joined_rows) {
    index.joined_rows.emplace_back(move.row(first), move.row(last));
  }
}

}  // namespace keyhound
