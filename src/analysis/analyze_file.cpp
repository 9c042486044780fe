#include "analysis/analyze_file.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <new>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "analysis/function_graph.hpp"
#include "analysis/report_pass.hpp"
#include "analysis/statement_memo.hpp"
#include "analysis/suppression.hpp"
#include "analysis/unused_suppressions.hpp"
#include "base/memory_budget.hpp"
#include "syntax/comment_tokens.hpp"
#include "syntax/file_index.hpp"
#include "syntax/node_positions.hpp"
#include "syntax/parse_memory.hpp"
#include "syntax/parse_python.hpp"
#include "rules/precise_rules.hpp"
#include "syntax/tokenizer_text.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {
namespace {

// What one walk of the tree gives: the index, and precise mode's facts
// when it rides on the walk.
struct IndexedTree {
  FileIndex index;
  std::optional<PreciseFacts> precise;
};

IndexedTree index_tree(TSNode root, std::string_view source, bool precise, DocumentMemo* memo) {
  std::optional<PreciseObserver> observer;
  if (precise) observer.emplace(source, memo != nullptr ? &memo->flows : nullptr);
  PreciseObserver* const watching = observer ? &*observer : nullptr;
  std::optional<KeptStatements> kept;
  if (memo != nullptr) {
    memo->statements.begin(precise);
    kept.emplace(memo->statements, source, watching);
    if (watching) watching->reserve_outline(memo->statements.outline_nodes());
  }
  // Precise mode: a handler that re-raises what it caught guards nothing.
  IndexedTree indexed{index_file(root, source, watching ? &watching->observer() : nullptr,
                                 precise ? GuardRule::ReraiseEscapes : GuardRule::AnyCatcher,
                                 kept ? &*kept : nullptr),
                      {}};
  if (memo != nullptr) memo->statements.finish(root);
  if (observer) indexed.precise = observer->finish();
  return indexed;
}

// Takes the lookups for which `drop` holds out of the index, keeping every
// definition's slices right.
void drop_accesses(FileIndex& index, const std::function<bool(std::size_t)>& drop) {
  std::vector<std::size_t> kept_before(index.accesses.size() + 1, 0);
  std::size_t kept = 0;
  for (std::size_t a = 0; a < index.accesses.size(); ++a) {
    kept_before[a] = kept;
    if (drop(a)) continue;
    index.accesses[kept] = index.accesses[a];
    index.access_in_function[kept] = index.access_in_function[a];
    index.access_owner[kept] = index.access_owner[a];
    ++kept;
  }
  kept_before[index.accesses.size()] = kept;
  index.accesses.resize(kept);
  index.access_in_function.resize(kept);
  index.access_owner.resize(kept);
  for (DefinitionSpan& span : index.definitions) {
    span.accesses_begin = kept_before[span.accesses_begin];
    span.accesses_end = kept_before[span.accesses_end];
  }
}

// Takes the suppressed lookups out of the index and marks the suppressed
// calls guarded.
void drop_suppressed(FileIndex& index, const Suppressions& suppressions) {
  // Most files suppress nothing: their nodes' rows need not be read.
  if (suppressions.none()) return;
  drop_accesses(index, [&](std::size_t a) {
    auto [first, last] = rows_of(index.accesses[a]);
    return suppressions.suppresses(kAccessCode, first, last);
  });
  for (IndexedCall& call : index.calls) {
    auto [first, last] = rows_of(call.node);
    if (!call.guarded && suppressions.suppresses(kCallCode, first, last)) call.guarded = true;
  }
}

// Takes out what precise mode knows cannot raise. A call inside `with
// suppress(KeyError):` lets nothing escape; marking it guarded takes it out
// of both passes. (A call whose name is not the function's where it is
// written has no target, and so relates to nothing already.)
void drop_exempt(FileIndex& index, const PreciseFacts& precise) {
  drop_accesses(index, [&](std::size_t a) { return precise.exempt.contains(index.accesses[a].id); });
  for (IndexedCall& call : index.calls) {
    if (precise.guarded_calls.contains(call.node.id)) call.guarded = true;
  }
}

// Precise mode shows the first syntax error, unless a comment suppresses it.
void report_syntax_error(const PreciseFacts& precise, const Suppressions& suppressions,
                         bool honour_suppressions, const FindingMaker& make,
                         std::vector<Finding>& findings) {
  if (!precise.first_error) return;
  auto [first, last] = rows_of(*precise.first_error);
  if (!honour_suppressions || !suppressions.suppresses(kSyntaxCode, first, last)) {
    findings.emplace_back(make.syntax_error(*precise.first_error));
  }
}

// Refused like a file too large to read: the run goes on without it.
FileReport refused_file(std::string_view path, std::string message) {
  return FileReport{.path = std::string(path),
                    .findings = {},
                    .outcome = FileOutcome{FileStatus::ReadError, std::move(message)}};
}

const char* const kOutOfMemory = "file too large to analyse in the available memory";

FileReport analyze_tree(std::string_view path, std::string_view source, TSNode root,
                        const AnalysisOptions& options, DocumentMemo* memo);

// Precise reports are read in the order of the file: by line, then
// column. Function summaries, which they do not show, go last.
void order_by_position(std::vector<Finding>& findings) {
  auto start_of = [](const Finding& finding) -> std::pair<uint32_t, uint32_t> {
    return std::visit(
        [](const auto& record) -> std::pair<uint32_t, uint32_t> {
          if constexpr (requires { record.start; }) {
            return {record.start.row, record.start.byte_column};
          } else {
            return {UINT32_MAX, UINT32_MAX};
          }
        },
        finding);
  };
  // Sorted by (start, index), which keeps equal starts in report order
  // without the temporary buffer of a stable sort.
  std::vector<std::tuple<uint32_t, uint32_t, std::size_t>> order;
  order.reserve(findings.size());
  for (std::size_t i = 0; i < findings.size(); ++i) {
    auto [row, column] = start_of(findings[i]);
    order.emplace_back(row, column, i);
  }
  std::sort(order.begin(), order.end());
  std::vector<Finding> sorted;
  sorted.reserve(findings.size());
  for (const auto& [row, column, i] : order) sorted.push_back(std::move(findings[i]));
  findings = std::move(sorted);
}

}  // namespace

FileReport analyze_parsed(std::string_view path, std::string_view source, TSNode root,
                          const AnalysisOptions& options, DocumentMemo* memo) {
  // Its parse fitted; its analysis, which takes memory by the node, must
  // fit in what is left, or the file is refused before it begins.
  if (auto refusal = analysis_refusal(uint64_t{node_count(root)} * kAnalysisBytesPerNode)) {
    return refused_file(path, *refusal);
  }
  try {
    return analyze_tree(path, source, root, options, memo);
  } catch (const std::bad_alloc&) {
    // The estimate is a worst case measured, not a promise: what still
    // runs out refuses this file only, never ends the run.
    return refused_file(path, kOutOfMemory);
  }
}

namespace {

FileReport analyze_text(std::string_view path, std::string_view source,
                        const AnalysisOptions& options) {
  // Declared first: it outlives the tree.
  const std::optional<uint64_t> share = parse_memory_share(source.size());
  ParseArenaScope arena(share);
  Tree tree = parse_python(source, arena.cancellation_flag());
  if (!tree) return refused_file(path, parse_refusal(share.value_or(0)));
  FileReport report = analyze_parsed(path, source, root_of(tree), options);
  arena.abandon(std::move(tree));
  return report;
}

}  // namespace

FileReport analyze_file(std::string_view path, std::string_view source,
                        const AnalysisOptions& options) {
  // The readable mode gives rows and columns as CPython counts them; the
  // module's rule keeps the parser's own.
  std::optional<std::string> tokenized;
  if (options.precise && (tokenized = as_tokenized(source))) source = *tokenized;
  FileReport report = [&] {
    try {
      return analyze_text(path, source, options);
    } catch (const std::bad_alloc&) {
      return refused_file(path, kOutOfMemory);
    }
  }();
  // The parse of a large file leaves the allocator holding much free
  // memory; the next file's estimate should not count it as taken.
  if (source.size() > kLargeSource) release_unused_memory();
  return report;
}

namespace {

FileReport analyze_tree(std::string_view path, std::string_view source, TSNode root,
                        const AnalysisOptions& options, DocumentMemo* memo) {
  IndexedTree indexed = index_tree(root, source, options.precise, memo);
  FileIndex& index = indexed.index;
  const Suppressions suppressions(options.honour_suppressions
                                      ? comment_tokens(index.comments, source)
                                      : std::vector<CommentToken>{},
                                  index.joined_rows);
  if (options.honour_suppressions) drop_suppressed(index, suppressions);
  if (indexed.precise) drop_exempt(index, *indexed.precise);
  // Each lookup and call left may become a finding, the part of the
  // analysis that grows with them rather than with the tree.
  if (auto refusal = analysis_refusal((uint64_t{index.accesses.size()} + index.calls.size()) *
                                      kAnalysisBytesPerPossibleFinding)) {
    return refused_file(path, *refusal);
  }

  FunctionTable table;
  const FunctionGraph graph =
      indexed.precise ? link_definitions(index, root, indexed.precise->call_targets,
                                         indexed.precise->deferred)
                      : link_functions(index, root, table);

  FileReport file{.path = std::string(path),
                  .findings = {},
                  .outcome = {},
                  .precise = options.precise,
                  .cells = {}};
  const FindingMaker make(source, suppressions,
                          indexed.precise ? &indexed.precise->risks : nullptr, options.excerpts);
  if (indexed.precise) {
    report_syntax_error(*indexed.precise, suppressions, options.honour_suppressions, make,
                        file.findings);
  }
  report_findings(options.precise ? ReportMode::Precise : ReportMode::Exact, graph, index, make,
                  file.findings);
  if (options.precise && options.honour_suppressions && options.report_unused_suppressions &&
      !suppressions.none()) {
    // What the file would show with no suppression at all: a comment that
    // hides none of it hides nothing. With no suppression comment, that is
    // what it shows already, and none is unused.
    AnalysisOptions unsuppressed = options;
    unsuppressed.honour_suppressions = false;
    unsuppressed.report_unused_suppressions = false;
    const FileReport without = analyze_tree(path, source, root, unsuppressed, memo);
    for (UnusedSuppressionFinding& unused :
         unused_suppressions(index.comments, source, suppressions, without.findings, make)) {
      file.findings.emplace_back(std::move(unused));
    }
  }
  if (options.precise) order_by_position(file.findings);
  if (!file.findings.empty()) {
    file.outcome = FileOutcome{FileStatus::HasFindings, file_issues_message(path)};
  }
  return file;
}

}  // namespace

}  // namespace keyhound
