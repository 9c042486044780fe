#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "rules/scope_flow_memo.hpp"
#include "syntax/index_part.hpp"
#include "syntax/statement_move.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

class PreciseObserver;
struct PreciseStatement;

// What the walks of an open document's top-level statements gave, from one
// analysis to the next. The incremental parse keeps, in the tree after an
// edit, the very subtree of each statement the edit did not touch; such a
// statement gives the walk what it gave before, moved by the bytes and rows
// the edit added above it. So the next walk passes over it and adds its
// part instead. The memo holds the tree the parts were taken from, so that
// no subtree it names can be freed and its address reused.
class StatementMemo {
 public:
  // A part is taken and used by walks of one kind (precise or not).
  void begin(bool precise);
  // Passes over `statement` when a part of it is kept: adds the part to
  // the index and the observer, and says whether it did.
  bool add_kept(TSNode statement, std::string_view source, FileIndex& index,
                PreciseObserver* observer);
  // Keeps the part of a statement just walked.
  void keep(TSNode statement, std::string_view source, const FileIndex& index,
            const IndexSizes& before, const PreciseObserver* observer);
  // Keeps what this walk of `root`'s tree walked or passed over, and that
  // tree; the rest goes.
  void finish(TSNode root);

  // How many statements the last walk passed over.
  std::size_t passed_over() const { return passed_over_; }
  // About how many outline nodes the next walk's outline holds, so that it
  // is allocated once: the statements kept, and room for those walked
  // again, which a keystroke seldom makes much larger.
  std::size_t outline_nodes() const { return outline_nodes_ + outline_nodes_ / 16 + 256; }

 private:
  struct Part {
    NodePlace place;
    TSNode statement;
    uint32_t length;
    std::size_t text_hash;
    IndexPart index;
    std::shared_ptr<const PreciseStatement> precise;
  };
  struct Kept {
    std::shared_ptr<const Part> part;
    // The analysis that last walked or passed over the statement: the
    // parts of older ones go when an analysis finishes.
    uint64_t analysis;
  };
  std::unordered_map<const void*, Kept> parts_;
  uint64_t analysis_ = 0;
  // An analysis that did not finish (a fault) may have kept parts of a
  // tree the memo does not hold: the next one starts afresh.
  bool finished_ = true;
  Tree tree_;
  std::optional<bool> precise_;
  std::size_t passed_over_ = 0;
  std::size_t outline_nodes_ = 0;
};

// The walk's side of the memo: passes over the top-level statements whose
// parts it kept, and keeps the parts of those it walks.
class KeptStatements final : public StatementSkipper {
 public:
  KeptStatements(StatementMemo& memo, std::string_view source, PreciseObserver* observer)
      : memo_(memo), source_(source), observer_(observer) {}

  bool skip(TSNode statement, FileIndex& index) override {
    return memo_.add_kept(statement, source_, index, observer_);
  }
  void walked(TSNode statement, const FileIndex& index, const IndexSizes& before) override {
    memo_.keep(statement, source_, index, before, observer_);
  }

 private:
  StatementMemo& memo_;
  std::string_view source_;
  PreciseObserver* observer_;
};

// What the language server keeps of an open document's last analysis, so
// that the next redoes only what an edit changed: each top-level
// statement's part of the walk, and each scope's flow.
struct DocumentMemo {
  StatementMemo statements;
  ScopeFlowMemo flows;
};

}  // namespace keyhound
