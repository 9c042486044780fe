#include "base/id_map.hpp"
#include "rules/scope_flow_memo.hpp"

#include <algorithm>
#include <utility>

#include "rules/precise_kinds.hpp"
#include "syntax/node_access.hpp"

namespace keyhound {
namespace {

constexpr uint32_t kNone = OutlineNode::kNone;

void append(std::string& key, uint32_t value) {
  key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

uint32_t relative(uint32_t index, uint32_t base) { return index == kNone ? kNone : index - base; }

// What the key holds of each node of the outline: seven numbers, and a
// subscript's mark.
constexpr std::size_t kKeyBytesPerNode = 7 * sizeof(uint32_t) + 1;

uint32_t stretch_end(const SyntaxOutline& outline, uint32_t definition) {
  const uint32_t end = outline[definition].subtree_end;
  return end == kNone ? static_cast<uint32_t>(outline.nodes().size()) : end;
}

}  // namespace

std::size_t scope_key_size(const SyntaxOutline& outline, uint32_t definition) {
  const OutlineNode& root = outline[definition];
  return sizeof(uint32_t) + (root.byte_end - start_byte(root.node)) +
         std::size_t{stretch_end(outline, definition) - definition} * kKeyBytesPerNode;
}

std::size_t scope_key_budget(const SyntaxOutline& outline, std::string_view source) {
  return 4 * (source.size() + outline.nodes().size() * kKeyBytesPerNode);
}

ScopeShape scope_shape(const SyntaxOutline& outline, uint32_t definition, std::string_view source) {
  const OutlineNode& root = outline[definition];
  const uint32_t first = start_byte(root.node);
  const uint32_t last = root.byte_end;
  const uint32_t end = stretch_end(outline, definition);
  const TSSymbol subscript = precise_kinds().subscript;
  ScopeShape shape;
  std::string& key = shape.text;
  key.reserve(scope_key_size(outline, definition));
  append(key, last - first);
  key.append(source.substr(first, last - first));
  for (uint32_t index = definition; index < end; ++index) {
    const OutlineNode& node = outline[index];
    append(key, (uint32_t{node.kind} << 16) | node.field);
    append(key, relative(node.first_child, definition));
    append(key, relative(node.last_child, definition));
    // The definition's sibling lies beyond its code.
    append(key, index == definition ? kNone : relative(node.next_sibling, definition));
    append(key, relative(node.subtree_end, definition));
    append(key, start_byte(node.node) - first);
    append(key, node.byte_end - first);
    if (node.kind == subscript) shape.subscripts.push_back(index - definition);
  }
  shape.hash = std::hash<std::string>{}(key);
  return shape;
}

ScopeKey scope_key(std::shared_ptr<const ScopeShape> shape, const SyntaxOutline& outline,
                   uint32_t definition, const IdSet& exempt) {
  // The marks follow the shape, whose subscripts say how many there are.
  std::string marks;
  marks.reserve(shape->subscripts.size());
  for (uint32_t place : shape->subscripts) {
    marks += exempt.contains(outline[definition + place].node.id) ? 'x' : '-';
  }
  // The shape's hash, kept with it, mixed with the marks'.
  const std::size_t hash =
      shape->hash ^ (std::hash<std::string>{}(marks) + 0x9e3779b97f4a7c15ULL + (shape->hash << 6) +
                     (shape->hash >> 2));
  return ScopeKey(std::move(shape), std::move(marks), hash);
}

std::string constants_key(const ModuleConstants& constants) {
  std::vector<std::string> entries;
  entries.reserve(constants.size());
  for (const auto& [name, keys] : constants) {
    std::vector<std::string_view> sorted(keys.begin(), keys.end());
    std::sort(sorted.begin(), sorted.end());
    std::string entry = name;
    for (std::string_view key : sorted) {
      entry += '\0';
      append(entry, static_cast<uint32_t>(key.size()));
      entry += key;
    }
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end());
  std::string key;
  for (const std::string& entry : entries) {
    append(key, static_cast<uint32_t>(entry.size()));
    key += entry;
  }
  return key;
}

void ScopeFlowMemo::begin(std::string constants) {
  if (constants_ != constants) {
    current_.clear();
    previous_.clear();
    constants_ = std::move(constants);
    return;
  }
  previous_ = std::move(current_);
  current_.clear();
}

const ScopeFlowOutcome* ScopeFlowMemo::recall(const ScopeKey& key) {
  auto found = current_.find(key);
  if (found == current_.end()) {
    auto node = previous_.extract(key);
    if (node.empty()) return nullptr;
    found = current_.insert(std::move(node)).position;
  }
  ++recalled_;
  return &found->second;
}

void ScopeFlowMemo::keep(ScopeKey key, ScopeFlowOutcome outcome) {
  current_.insert_or_assign(std::move(key), std::move(outcome));
}

}  // namespace keyhound

namespace keyhound {

std::size_t ScopeFlowMemo::key_bytes() const {
  std::size_t bytes = 0;
  for (const auto* kept : {&current_, &previous_}) {
    for (const auto& [key, outcome] : *kept) bytes += key.size();
  }
  return bytes;
}

}  // namespace keyhound
