#pragma once

#include <string_view>

#include <tree_sitter/api.h>

#include "analysis/findings.hpp"
#include "analysis/statement_memo.hpp"

namespace keyhound {

// Analyses one file's text: parses it, finds the functions that may let a
// KeyError escape, and returns every finding and function summary in the
// order the report shows them. The outcome is clean when nothing was found,
// else has findings with "Potential issue(s) found in '{path}'". `path` is
// used only in messages; nothing is printed.
struct AnalysisOptions {
  // Honour `# noqa` and `# keyhound: ignore` comments: a suppressed lookup or
  // call counts as guarded, so it is neither reported nor a source of
  // KeyError for the functions that call it.
  bool honour_suppressions = false;
  // Precise mode: subscripts that cannot raise KeyError (stores, slices,
  // integer indexes, type subscripts, lookups under a membership test, in
  // defaultdict and Counter) are no accesses; each lookup is reported once,
  // under the innermost function; bare calls relate to functions by scope;
  // a syntax error is a finding.
  bool precise = false;
  // Precise mode with suppressions honoured: report the suppression
  // comments that suppress nothing (KH100), which costs a second analysis
  // of the file without its suppressions.
  bool report_unused_suppressions = false;
  // Each finding carries the text of its source line and of its tokens,
  // which the reports show and a baseline matches findings by. An editor's
  // diagnostics need neither, and leave them out: a string or two fewer
  // per finding at every keystroke.
  bool excerpts = true;
};

FileReport analyze_file(std::string_view path, std::string_view source,
                        const AnalysisOptions& options = {});

// The same for a text already parsed: `root` is the root of `source`'s
// tree. The language server keeps each open document's tree between edits
// and parses only what an edit changed, and a memo of its last analysis,
// from which the analysis takes what an edit did not change.
FileReport analyze_parsed(std::string_view path, std::string_view source, TSNode root,
                          const AnalysisOptions& options = {}, DocumentMemo* memo = nullptr);

}  // namespace keyhound
