// The editor's memo of scopes' flow: what a document's analysis gives with
// the memo kept from its earlier versions must be what it gives afresh,
// however the text was edited in between.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analysis/analyze_file.hpp"
#include "rules/precise_rules.hpp"
#include "rules/scope_flow_memo.hpp"
#include "server/document_findings.hpp"
#include "server/open_document.hpp"
#include "syntax/file_index.hpp"
#include "test_support.hpp"

namespace keyhound {
namespace {

// Scopes of every kind the flow knows: constants, guards, known keys,
// `suppress`, `finally`, nested functions and lambdas, outside data.
const std::string kModule =
    "import json, os\n"
    "from contextlib import suppress\n"
    "from collections import defaultdict\n"
    "LIMITS = {'low': 1, 'high': 2}\n"
    "CACHE = defaultdict(list)\n"
    "\n"
    "def cached(d, k):\n"
    "    return CACHE[k] + d[k]\n"
    "\n"
    "def limit(name):\n"
    "    return LIMITS['low'] + LIMITS[name]\n"
    "\n"
    "def guarded(d, k):\n"
    "    if k in d:\n"
    "        return d[k]\n"
    "    return d['other']\n"
    "\n"
    "def known(d):\n"
    "    d['a'] = 1\n"
    "    return d['a'] + d['b']\n"
    "\n"
    "def quiet(d, k):\n"
    "    with suppress(KeyError):\n"
    "        return d[k] + limit(k)\n"
    "\n"
    "def finals(d, k):\n"
    "    try:\n"
    "        pass\n"
    "    finally:\n"
    "        x = d[k]\n"
    "    return x\n"
    "\n"
    "def outer(d, k):\n"
    "    def inner(e):\n"
    "        return e[k] + d['z']\n"
    "    later = lambda: d['y']\n"
    "    return inner(d), later\n"
    "\n"
    "class Settings:\n"
    "    def __init__(self, path):\n"
    "        self.data = json.load(open(path))\n"
    "    def get(self, k):\n"
    "        return self.data[k] + os.environ['HOME'] + known({})\n";

// The server's whole view of an analysis: the diagnostics it would publish.
std::string published(const OpenDocument& document, DocumentMemo* memo) {
  const AnalysisOptions options{.honour_suppressions = true, .precise = true,
                                .report_unused_suppressions = true};
  const std::string& text = *document.text();
  const FileReport report =
      analyze_parsed("a.py", text, document.tree()->root(), options, memo);
  return lsp_diagnostics(shown_findings(report), text, document.lines(), document.uri(),
                         PositionEncoding::Utf16);
}

// What the rules settle, counted: the facts the memo must not change.
std::string settled(const OpenDocument& document, ScopeFlowMemo* memo) {
  const std::string& text = *document.text();
  PreciseObserver observer(text, memo);
  index_file(document.tree()->root(), text, &observer.observer(), GuardRule::ReraiseEscapes);
  const PreciseFacts facts = observer.finish();
  std::string counts;
  for (std::size_t removed : facts.removed) counts += std::to_string(removed) + " ";
  counts += "| risks " + std::to_string(facts.risks.size()) + " guarded calls " +
            std::to_string(facts.guarded_calls.size()) + " long " +
            std::to_string(facts.long_texts) + " steps " + std::to_string(facts.most_flow_steps) +
            " given up " + std::to_string(facts.flows_given_up);
  std::string risks;
  for (const auto& [subscript, risk] : facts.risks) {
    if (!facts.exempt.contains(subscript)) risks += std::string(risk.reason.view()) + ";";
  }
  return counts + " " + std::to_string(risks.size());
}

void replace(OpenDocument& document, std::size_t from, std::size_t to, std::string text) {
  testing::replace_ascii(document, from, to, std::move(text), PositionEncoding::Utf16);
}

TEST(ScopeFlowMemo, AnEditRebuildsOnlyTheScopesItChanged) {
  OpenDocument document("file:///a.py", "/a.py", 1, kModule);
  DocumentMemo memo;
  ASSERT_EQ(published(document, &memo), published(document, nullptr));
  const std::size_t first = memo.flows.recalled();

  // The module and `inner` hold no lookup the flow asks about but these.
  struct Edit {
    const char* what;
    const char* find;
    const char* replacement;
    // At least this many scopes recalled by the analysis after it.
    std::size_t recalled;
  };
  const Edit edits[] = {
      {"a letter in one function", "d['b']", "d['bc']", 7},
      {"a line added above every function", "import json", "import sys\nimport json", 8},
      {"the module's constants changed", "'low': 1, ", "", 0},
      {"a membership test taken away", "if k in d:", "if k or d:", 7},
      {"a module-level name no longer a defaultdict", "CACHE = defaultdict(list)\n",
       "CACHE = defaultdict(list)\nCACHE = {}\n", 7},
      {"a syntax error", "return x\n", "return x +\n", 6},
      {"the error mended", "return x +\n", "return x\n", 6},
  };
  std::size_t before = memo.flows.recalled();
  for (const Edit& edit : edits) {
    const std::string text = *document.text();
    const std::size_t at = text.find(edit.find);
    ASSERT_NE(at, std::string::npos) << edit.what;
    replace(document, at, at + std::string_view(edit.find).size(), edit.replacement);
    EXPECT_EQ(published(document, &memo), published(document, nullptr)) << edit.what;
    const std::size_t recalled = memo.flows.recalled() - before;
    // Its second pass, without suppressions, recalls every scope.
    EXPECT_GE(recalled, edit.recalled) << edit.what;
    before = memo.flows.recalled();
  }
  EXPECT_GT(before, first);
}

TEST(ScopeFlowMemo, AFunctionHoldingASyntaxErrorIsAnalysedAfresh) {
  // The parser may recover from the same error in the same text another way
  // once the text around it changed: here `k` is a parameter of `cached` in
  // the first tree and not in the second, although its outline is the same.
  const std::string text =
      "import os\nfrom contextlib import suppress\nfrom collections it)\n\n"
      "def cached(  finally:ME'] + , k):\n    return CACHE[k] + d[k]\n\n limit(k)\n\n"
      "def finaTs(d, k):\n    try:\n        pass\n    finally:ME'] + known({})\n";
  OpenDocument document("file:///a.py", "/a.py", 1, text);
  DocumentMemo memo;
  ASSERT_EQ(published(document, &memo), published(document, nullptr));
  const std::size_t at = text.find("        pass");
  replace(document, at, at + 1, "x");
  EXPECT_EQ(published(document, &memo), published(document, nullptr));
}

TEST(ScopeFlowMemo, DeeplyNestedScopesKeepKeysOfAFewTimesTheFile) {
  // Each scope's key holds the scopes within it: unbounded, 60 levels
  // would keep a hundred times the file (its text, and its outline at
  // about 30 bytes a node).
  constexpr int kLevels = 60;
  std::string text;
  for (int level = 0; level < kLevels; ++level) {
    const std::string indent(static_cast<std::size_t>(level) * 2, ' ');
    text += indent + "def f" + std::to_string(level) + "(d):\n";
    for (int line = 0; line < 5; ++line) {
      text += indent + "  x = d['k" + std::to_string(level) + "'] + d[x]\n";
    }
  }
  text += std::string(kLevels * 2, ' ') + "return x\n";
  OpenDocument document("file:///a.py", "/a.py", 1, text);
  DocumentMemo memo;
  ASSERT_EQ(published(document, &memo), published(document, nullptr));
  EXPECT_LE(memo.flows.key_bytes(), 16 * text.size());
  const std::size_t at = text.rfind("'k59'");
  replace(document, at, at + 5, "'k599'");
  EXPECT_EQ(published(document, &memo), published(document, nullptr));
  EXPECT_LE(memo.flows.key_bytes(), 16 * document.text()->size());
}

TEST(ScopeFlowMemo, FactsAreTheSameAfterRandomEdits) {
  // Pieces that make and break what the rules and the flow see.
  const std::vector<std::string> pieces = {
      "x", "d[k]", "\n", "    ", ":", "(", ")", "'", "#", "]", "try:\n    ",
      "with suppress(KeyError):\n        ", "if k in d:\n        ", "lambda: d['q']",
      "global LIMITS\n    ", "CACHE = {}\n", "LIMITS['mid'] = 1\n", "def g(d):\n    return d[1]\n"};
  std::mt19937 random(20261210);
  OpenDocument document("file:///a.py", "/a.py", 1, kModule);
  DocumentMemo published_memo;
  ScopeFlowMemo settled_memo;
  for (int step = 0; step < 400; ++step) {
    const std::string& text = *document.text();
    const std::size_t at = std::uniform_int_distribution<std::size_t>(0, text.size())(random);
    if (random() % 2 == 0 && at < text.size()) {
      const std::size_t length = 1 + random() % 6;
      replace(document, at, std::min(text.size(), at + length), "");
    } else {
      replace(document, at, at, pieces[random() % pieces.size()]);
    }
    // A text grown past the point of interest starts again.
    if (document.text()->size() > 4 * kModule.size()) {
      replace(document, 0, document.text()->size(), kModule);
    }
    ASSERT_EQ(published(document, &published_memo), published(document, nullptr))
        << "step " << step << ":\n" << *document.text();
    ASSERT_EQ(settled(document, &settled_memo), settled(document, nullptr))
        << "step " << step << ":\n" << *document.text();
  }
  // Many versions recall some scope (one holding a syntax error never is).
  EXPECT_GT(published_memo.flows.recalled(), 50U);
}

}  // namespace
}  // namespace keyhound
