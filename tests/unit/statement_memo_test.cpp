// The memo of top-level statements: a walk that passes over the statements
// an edit left alone must give the index and the facts a whole walk gives,
// handle for handle.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/statement_memo.hpp"
#include "rules/precise_rules.hpp"
#include "server/open_document.hpp"
#include "syntax/file_index.hpp"
#include "test_support.hpp"

namespace keyhound {
namespace {

// Every kind of thing a statement gives the rules: imports (of typing
// too), module bindings and constants, a defaultdict, a class whose
// methods fill an attribute from outside data and call each other, a
// protocol method, globals, lambdas, decorators, a guarded module-level
// lookup, comments, continued lines and strings over rows, and functions
// nested in one another that find their enclosing function's names.
const std::string kModule =
    "import json\n"
    "import typing as t\n"
    "from collections import defaultdict\n"
    "LIMITS = {'low': 1, 'high': 9}\n"
    "CACHE = defaultdict(list)\n"
    "x = 1; y = LIMITS['low']\n"
    "# a comment between statements\n"
    "@decorate\n"
    "def inner(d, k: t.Dict[str, int]):\n"
    "    global COUNT, CACHE\n"
    "    COUNT = d[k] + CACHE[k] + LIMITS['high']\n"
    "    return (lambda: d['q'])()\n"
    "\n"
    "class Settings:\n"
    "    def __init__(self, path):\n"
    "        self.data = json.load(open(path))\n"
    "    def get(self, k):\n"
    "        return self.data[k] + self.helper(k)\n"
    "    def helper(self, k):\n"
    "        return os.environ[k]\n"
    "    def name(self):\n"
    "        return self.data['name']\n"
    "    def __getitem__(self, key):\n"
    "        return self.data[key]\n"
    "\n"
    "try:\n"
    "    value = LIMITS['mid']\n"
    "except KeyError:\n"
    "    value = None\n"
    "\n"
    "def outer(d):\n"
    "    text = '''a\n"
    "b''' + \\\n"
    "        d['k']\n"
    "    # CACHE is rebound in inner: its lookups are no defaultdict's\n"
    "    return inner(d, text), Settings('p').get('k'), CACHE['z']\n"
    "\n"
    "def nesting(d):\n"
    "    counts = defaultdict(int)\n"
    "    def first(k):\n"
    "        return second(k) + counts[k]\n"
    "    def second(k):\n"
    "        return d[k]\n"
    "    return first\n"
    "\n"
    "if __name__ == '__main__':\n"
    "    outer({})['x']\n";

// Everything a walk gives, written out with the nodes' places, so that two
// walks compare as text.
std::string walked(const OpenDocument& document, StatementMemo* memo) {
  const std::string& text = *document.text();
  const TSNode root = document.tree()->root();
  PreciseObserver observer(text);
  std::optional<KeptStatements> kept;
  if (memo != nullptr) {
    memo->begin(true);
    kept.emplace(*memo, text, &observer);
  }
  const FileIndex index = index_file(root, text, &observer.observer(),
                                     GuardRule::ReraiseEscapes, kept ? &*kept : nullptr);
  if (memo != nullptr) memo->finish(root);
  const PreciseFacts facts = observer.finish();

  // Node ids are compared as the nodes they name, by their place.
  std::map<const void*, std::string> names;
  std::string out;
  auto node = [&](TSNode n) {
    std::string place = std::string(ts_node_type(n)) + "@" +
                        std::to_string(ts_node_start_byte(n)) + "-" +
                        std::to_string(ts_node_end_byte(n)) + ":" +
                        std::to_string(ts_node_start_point(n).row) + "." +
                        std::to_string(ts_node_start_point(n).column);
    names.emplace(n.id, place);
    return place;
  };
  auto id = [&](const void* n) {
    auto found = names.find(n);
    return found == names.end() ? std::string("?") : found->second;
  };
  for (std::size_t a = 0; a < index.accesses.size(); ++a) {
    out += "access " + node(index.accesses[a]) + " " +
           std::to_string(index.access_in_function[a]) + " " +
           std::to_string(static_cast<long long>(index.access_owner[a])) + "\n";
  }
  for (const IndexedCall& call : index.calls) {
    out += "call " + std::string(call.name) + " " + node(call.node) + " " +
           std::to_string(call.guarded) + " " + std::to_string(static_cast<long long>(call.owner)) +
           "\n";
  }
  for (const DefinitionSpan& span : index.definitions) {
    out += "def " + std::string(span.name) + " " + node(span.node) + " " +
           std::to_string(span.accesses_begin) + "-" + std::to_string(span.accesses_end) + " " +
           std::to_string(span.calls_begin) + "-" + std::to_string(span.calls_end) + "\n";
  }
  for (TSNode comment : index.comments) out += "comment " + node(comment) + "\n";
  for (auto [first, last] : index.joined_rows) {
    out += "joined " + std::to_string(first) + "-" + std::to_string(last) + "\n";
  }
  // Every node the facts name is a lookup, a call or a definition above.
  auto sorted = [&](const auto& ids) {
    std::set<std::string> places;
    for (const void* n : ids) places.insert(id(n));
    std::string joined;
    for (const std::string& place : places) joined += place + ",";
    return joined;
  };
  out += "exempt " + sorted(facts.exempt) +
         "\nguarded " + sorted(facts.guarded_calls) + "\ndeferred " + sorted(facts.deferred) +
         "\n";
  std::set<std::string> targets;
  for (const auto& [call, target] : facts.call_targets) targets.insert(id(call) + ">" + id(target));
  for (const std::string& target : targets) out += "target " + target + "\n";
  std::set<std::string> risks;
  for (const auto& [lookup, risk] : facts.risks) {
    risks.insert(id(lookup) + " " + std::to_string(static_cast<int>(risk.confidence)) + " " +
                 std::string(risk.reason.view()));
  }
  for (const std::string& risk : risks) out += "risk " + risk + "\n";
  for (std::size_t removed : facts.removed) out += std::to_string(removed) + " ";
  return out;
}

void replace(OpenDocument& document, std::size_t from, std::size_t to, std::string text) {
  testing::replace_ascii(document, from, to, std::move(text), PositionEncoding::Utf8);
}

TEST(StatementMemo, AnEditWalksOnlyTheStatementsItReached) {
  OpenDocument document("file:///a.py", "/a.py", 1, kModule);
  StatementMemo memo;
  ASSERT_EQ(walked(document, &memo), walked(document, nullptr));
  EXPECT_EQ(memo.passed_over(), 0u);
  ASSERT_EQ(walked(document, &memo), walked(document, nullptr));
  // A comment is a small leaf kept in its parent's list, with no subtree
  // of its own: it is walked each time.
  std::size_t statements = 0;
  const TSNode root = document.tree()->root();
  for (uint32_t i = 0; i < ts_node_child_count(root); ++i) {
    if (subtree_of(ts_node_child(root, i)) != nullptr) ++statements;
  }
  EXPECT_EQ(memo.passed_over(), statements) << "an unchanged tree walks the rest";
  EXPECT_EQ(statements, ts_node_named_child_count(root) - 1);

  // The parse keeps fewer statements than an edit left alone (it builds
  // again some it could have kept), so what counts is that each walk is
  // the whole walk.
  struct Edit {
    const char* what;
    const char* find;
    const char* replacement;
  };
  const Edit edits[] = {
      {"a letter in one function", "d['q']", "d['qr']"},
      {"a line added at the top", "import json\n", "import sys\nimport json\n"},
      {"a statement on a row with another", "x = 1;", "x = 12;"},
      {"a method of the class", "os.environ[k]", "os.environ[k + 'x']"},
      {"a comment between statements", "# a comment", "# the comment"},
      {"a string over rows", "'''a\nb'''", "'''a\n\nb'''"},
      {"a statement taken out", "CACHE = defaultdict(list)\n", ""},
      {"a typing alias renamed", "import typing as t", "import typing as u"},
      {"a syntax error", "return (lambda", "return (lambda("},
      {"the error mended", "return (lambda(", "return (lambda"},
  };
  for (const Edit& edit : edits) {
    const std::string text = *document.text();
    const std::size_t at = text.find(edit.find);
    ASSERT_NE(at, std::string::npos) << edit.what;
    replace(document, at, at + std::string_view(edit.find).size(), edit.replacement);
    EXPECT_EQ(walked(document, &memo), walked(document, nullptr)) << edit.what;
    EXPECT_GT(memo.passed_over(), 0u) << edit.what;
  }
}

TEST(StatementMemo, AKeystrokeInAFunctionWalksThatFunction) {
  std::string text;
  for (int f = 0; f < 20; ++f) {
    const std::string n = std::to_string(f);
    text += "def load_" + n + "(cfg, key):\n    return cfg['a_" + n + "'][key], helper(cfg)\n\n";
  }
  OpenDocument document("file:///a.py", "/a.py", 1, text);
  StatementMemo memo;
  ASSERT_EQ(walked(document, &memo), walked(document, nullptr));
  const std::size_t at = text.find("'a_10'");
  for (int keystroke = 0; keystroke < 4; ++keystroke) {
    if (keystroke % 2 == 0) {
      replace(document, at + 1, at + 1, "x");
    } else {
      replace(document, at + 1, at + 2, "");
    }
    ASSERT_EQ(walked(document, &memo), walked(document, nullptr));
    // The function typed in, and at most the one after it, are walked.
    EXPECT_GE(memo.passed_over(), 18u) << "keystroke " << keystroke;
  }
}

// An analysis that a fault ended before it finished may have kept parts
// of a tree the memo does not hold, whose memory may go to another: the
// next analysis keeps nothing of what the memo held.
TEST(StatementMemo, AnAnalysisThatDidNotFinishLeavesNothingToPassOver) {
  std::string text;
  for (int f = 0; f < 5; ++f) text += "def f" + std::to_string(f) + "(d):\n    return d['k']\n\n";
  OpenDocument document("file:///a.py", "/a.py", 1, text);
  StatementMemo memo;
  walked(document, &memo);
  replace(document, text.size(), text.size(), "x = 1\n");
  {
    PreciseObserver observer(*document.text());
    memo.begin(true);
    KeptStatements kept(memo, *document.text(), &observer);
    index_file(document.tree()->root(), *document.text(), &observer.observer(),
               GuardRule::ReraiseEscapes, &kept);
    EXPECT_GT(memo.passed_over(), 0u);
    // No finish: the fault ended it here.
  }
  ASSERT_EQ(walked(document, &memo), walked(document, nullptr));
  EXPECT_EQ(memo.passed_over(), 0u);
  ASSERT_EQ(walked(document, &memo), walked(document, nullptr));
  EXPECT_EQ(memo.passed_over(), 6u);
}

// A kept statement's scopes are numbered from where the file's count
// stands now: a scope opened above it moves them, and the functions nested
// in it still find their enclosing function's names.
TEST(StatementMemo, AScopeOpenedAboveMovesTheScopesKeptBelow) {
  std::string text;
  for (int f = 0; f < 20; ++f) {
    text += "def load_" + std::to_string(f) +
            "(d):\n"
            "    counts = defaultdict(int)\n"
            "    def first(k):\n"
            "        return second(k) + counts[k]\n"
            "    def second(k):\n"
            "        return d[k]\n"
            "    return first\n\n";
  }
  OpenDocument document("file:///a.py", "/a.py", 1, text);
  StatementMemo memo;
  ASSERT_EQ(walked(document, &memo), walked(document, nullptr));
  // A function added on lines of its own, after a newline (typed at a
  // line's first word, the parse would build every statement after it
  // anew, and none would be kept).
  const std::size_t at = text.find("(int)\n", text.find("def load_10")) + 6;
  const std::string_view opened = "    def extra():\n        pass\n";
  replace(document, at, at, std::string(opened));
  EXPECT_EQ(walked(document, &memo), walked(document, nullptr));
  EXPECT_GE(memo.passed_over(), 18u);
  replace(document, at, at + opened.size(), "");
  EXPECT_EQ(walked(document, &memo), walked(document, nullptr));
  EXPECT_GE(memo.passed_over(), 18u);
}

TEST(StatementMemo, TheSameWalkAfterRandomEdits) {
  const std::vector<std::string> pieces = {
      "x", "d[k]", "\n", "    ", ":", "(", ")", "'", "#", "]", "try:\n    ", "@", ";",
      "import typing as u\n", "global CACHE\n    ", "CACHE = {}\n", "def g(d):\n    return d[1]\n",
      "class C:\n    def m(self):\n        self.data = json.loads(s)\n"};
  std::mt19937 random(20261210);
  OpenDocument document("file:///a.py", "/a.py", 1, kModule);
  StatementMemo memo;
  std::size_t passed_over = 0;
  for (int step = 0; step < 300; ++step) {
    const std::string& text = *document.text();
    const std::size_t at = std::uniform_int_distribution<std::size_t>(0, text.size())(random);
    if (random() % 2 == 0 && at < text.size()) {
      replace(document, at, std::min(text.size(), at + 1 + random() % 6), "");
    } else {
      replace(document, at, at, pieces[random() % pieces.size()]);
    }
    if (document.text()->size() > 3 * kModule.size()) {
      replace(document, 0, document.text()->size(), kModule);
    }
    ASSERT_EQ(walked(document, &memo), walked(document, nullptr))
        << "step " << step << ":\n" << *document.text();
    passed_over += memo.passed_over();
  }
  EXPECT_GT(passed_over, 200u);
}

}  // namespace
}  // namespace keyhound
