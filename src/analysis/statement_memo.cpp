#include "analysis/statement_memo.hpp"

#include <functional>

#include "rules/precise_rules.hpp"

namespace keyhound {

namespace {

std::string_view text_of(TSNode statement, std::string_view source) {
  const uint32_t start = ts_node_start_byte(statement);
  return source.substr(start, ts_node_end_byte(statement) - start);
}

}  // namespace

void StatementMemo::begin(bool precise) {
  if (precise_ != precise || !finished_) parts_.clear();
  precise_ = precise;
  ++analysis_;
  finished_ = false;
  passed_over_ = 0;
}

bool StatementMemo::add_kept(TSNode statement, std::string_view source, FileIndex& index,
                             PreciseObserver* observer) {
  const void* subtree = subtree_of(statement);
  if (subtree == nullptr) return false;
  auto found = parts_.find(subtree);
  if (found == parts_.end()) return false;
  const Part& part = *found->second.part;
  const NodePlace now = place_of(statement);
  // A statement whose column changed would move its first row's columns.
  if (now.column != part.place.column || ts_node_has_error(statement)) return false;
  // The same subtree is the same text; checked all the same, as a wrong
  // part would be a wrong report.
  const std::string_view text = text_of(statement, source);
  if (text.size() != part.length || std::hash<std::string_view>{}(text) != part.text_hash) {
    return false;
  }
  const StatementMove move(part.statement, statement, source);
  if (!same_handle(move.node(part.statement), statement)) return false;
  if ((observer != nullptr) != (part.precise != nullptr)) return false;
  add_index_part(index, part.index, move);
  if (observer != nullptr) observer->add_statement(*part.precise, move);
  found->second.analysis = analysis_;
  ++passed_over_;
  return true;
}

void StatementMemo::keep(TSNode statement, std::string_view source, const FileIndex& index,
                         const IndexSizes& before, const PreciseObserver* observer) {
  // The parser may recover from an error another way once the text around
  // it changed: a statement holding one is walked each time.
  const void* subtree = subtree_of(statement);
  if (subtree == nullptr || ts_node_has_error(statement)) return;
  const std::string_view text = text_of(statement, source);
  parts_.insert_or_assign(
      subtree,
      Kept{std::make_shared<const Part>(Part{
          .place = place_of(statement),
          .statement = statement,
          .length = static_cast<uint32_t>(text.size()),
          .text_hash = std::hash<std::string_view>{}(text),
          .index = index_part(index, before, source),
          .precise = observer != nullptr ? observer->last_statement() : nullptr}),
           analysis_});
}

void StatementMemo::finish(TSNode root) {
  std::erase_if(parts_, [this](const auto& entry) { return entry.second.analysis != analysis_; });
  outline_nodes_ = 0;
  for (const auto& [statement, kept] : parts_) {
    if (kept.part->precise) outline_nodes_ += PreciseObserver::outline_nodes(*kept.part->precise);
  }
  tree_ = Tree(ts_tree_copy(root.tree));
  finished_ = true;
}

}  // namespace keyhound
