#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "analysis/analyze_file.hpp"
#include "analysis/finding_identity.hpp"
#include "formats/caret_renderer.hpp"

namespace keyhound {
namespace {

struct Analysis {
  bool has_issues;
  std::string message;
  std::string out;
  std::string err;
};

Analysis analyze(const std::string& source, const std::string& path = "t.py") {
  FileReport report = analyze_file(path, source);
  EXPECT_EQ(report.path, path);
  MemoryWriter rendered;
  CaretRenderer(Stylesheet::plain()).render(report, rendered);
  // The findings as the default report shows them, without the outcome line.
  MemoryWriter findings;
  for (std::size_t i = 0; i + 1 < rendered.lines().size(); ++i) {
    findings.write_line(rendered.lines()[i].first, rendered.lines()[i].second);
  }
  return Analysis{report.outcome.status == FileStatus::HasFindings, report.outcome.message,
                  findings.text(Stream::Stdout), findings.text(Stream::Stderr)};
}

// The finding of `def h(d):\n    return d['k']\n` written at the top of a file.
const std::string kAccessInH =
    "t.py:2:12: Warning: Possible KeyError in function 'h'\n"
    "2|\n"
    " |     return d['k']\n"
    " |            ^^^^^^\n"
    "\n";

std::string summary(const std::string& function) {
  return "Potential issue(s) in function '" + function + "': Warnings found in '" + function +
         "'\n";
}

struct CleanCase {
  const char* label;
  std::string source;
};

class CleanFileTest : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanFileTest, SucceedsSilently) {
  Analysis analysis = analyze(GetParam().source);
  EXPECT_FALSE(analysis.has_issues);
  EXPECT_EQ(analysis.out, "");
  EXPECT_EQ(analysis.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, CleanFileTest,
    ::testing::Values(CleanCase{"empty", ""}, CleanCase{"comments_only", "# a\n# b\n"},
                      CleanCase{"bom_only", "\xef\xbb\xbf"},
                      CleanCase{"no_subscripts", "def f(d):\n    return d.get('k')\n"},
                      CleanCase{"guarded", "def f(d):\n    try:\n        return d['k']\n"
                                           "    except KeyError:\n        return None\n"},
                      CleanCase{"calls_without_subscripts",
                                "def f():\n    g()\ndef g():\n    f()\nf()\n"}),
    [](const ::testing::TestParamInfo<CleanCase>& info) { return info.param.label; });

// The records themselves, before any rendering.
TEST(AnalyzeFileTest, RecordsCarryPositionsNamesAndExcerptLines) {
  FileReport report = analyze_file(
      "t.py", "def h(d):\n    return d['k']\ndef f(d):\n    return g(d)\n"
              "def g(d):\n    return h(d)\n");
  ASSERT_EQ(report.findings.size(), 5u);
  const auto& access = std::get<AccessFinding>(report.findings[0]);
  EXPECT_EQ(access.function, "h");
  EXPECT_EQ(access.start.row, 1u);
  EXPECT_EQ(access.start.byte_column, 11u);
  EXPECT_EQ(access.end.byte_column, 17u);
  EXPECT_EQ(excerpt_of(access.source_line), "    return d['k']");
  EXPECT_EQ(std::get<FunctionSummary>(report.findings[1]).function, "h");
  const auto& call = std::get<CallFinding>(report.findings[2]);
  EXPECT_EQ(call.function, "f");
  EXPECT_EQ(call.callee, "g");
  EXPECT_EQ(call.exceptions, std::vector<std::string>{"KeyError"});
  EXPECT_EQ(call.start.row, 3u);
  EXPECT_EQ(excerpt_of(call.source_line), "    return g(d)");
  EXPECT_EQ(std::get<FunctionSummary>(report.findings[3]).function, "f");
  EXPECT_EQ(std::get<FunctionSummary>(report.findings[4]).function, "<module>");
  EXPECT_EQ(report.outcome.status, FileStatus::HasFindings);
  EXPECT_EQ(report.outcome.message, "Potential issue(s) found in 't.py'");
}

TEST(AnalyzeFileTest, CleanFileHasNoRecordsAndACleanOutcome) {
  FileReport report = analyze_file("t.py", "def f(d):\n    return d.get(1)\n");
  EXPECT_TRUE(report.findings.empty());
  EXPECT_EQ(report.outcome.status, FileStatus::Clean);
}

TEST(AnalyzeFileTest, ModuleLevelSubscriptGivesOnlyTheModuleSummary) {
  Analysis analysis = analyze("x = d['k']\n", "./m.py");
  EXPECT_TRUE(analysis.has_issues);
  EXPECT_EQ(analysis.message, "Potential issue(s) found in './m.py'");
  EXPECT_EQ(analysis.out, "");
  EXPECT_EQ(analysis.err, summary("<module>"));
}

TEST(AnalyzeFileTest, SubscriptInAFunction) {
  Analysis analysis = analyze("def f(d):\n    return d['k']\n");
  EXPECT_EQ(analysis.out,
            "t.py:2:12: Warning: Possible KeyError in function 'f'\n"
            "2|\n"
            " |     return d['k']\n"
            " |            ^^^^^^\n"
            "\n");
  EXPECT_EQ(analysis.err, summary("f") + summary("<module>"));
}

TEST(AnalyzeFileTest, ChainOfCallsReportsTheCallerOfTheFirstCleanCallee) {
  Analysis analysis = analyze(
      "def h(d):\n    return d['k']\n"
      "def g(d):\n    return h(d)\n"
      "def f(d):\n    return g(d)\n");
  // h shows its own access; g's call of h is not repeated since h's accesses
  // were shown; f's call of g is, since g holds no access of its own.
  EXPECT_EQ(analysis.out,
            kAccessInH +
            "t.py:6:12: Warning: Possible KeyError not handled when calling 'g' in function 'f'\n"
            "6|\n"
            " |     return g(d)\n"
            " |            ^^^^\n"
            "\n");
  EXPECT_EQ(analysis.err, summary("h") + summary("f") + summary("<module>"));
}

TEST(AnalyzeFileTest, GuardedCallStopsThePropagation) {
  Analysis analysis = analyze(
      "def h(d):\n    return d['k']\n"
      "def g(d):\n    try:\n        return h(d)\n    except LookupError:\n        pass\n"
      "def f(d):\n    return g(d)\n");
  EXPECT_EQ(analysis.err, summary("h") + summary("<module>"));
  EXPECT_EQ(analysis.out.find("calling"), std::string::npos);
}

TEST(AnalyzeFileTest, CallsThroughAttributesNeverRelate) {
  Analysis analysis = analyze(
      "def h(d):\n    return d['k']\n"
      "def f(obj):\n    obj.h()\n    self.h()\n");
  EXPECT_EQ(analysis.err, summary("h") + summary("<module>"));
}

TEST(AnalyzeFileTest, RedefinitionKeepsOnlyTheLaterDefinition) {
  Analysis analysis = analyze(
      "def h(d):\n    return d['k']\n"
      "def h(d):\n    return 1\n"
      "def f():\n    return h({})\n");
  // The earlier h has no entry: its access is seen only by the module.
  EXPECT_EQ(analysis.out, "");
  EXPECT_EQ(analysis.err, summary("<module>"));
}

TEST(AnalyzeFileTest, RecursionWithASubscriptOfItsOwn) {
  Analysis analysis = analyze("def r(d, n):\n    return d[n] + r(d, n - 1)\n");
  EXPECT_EQ(analysis.out,
            "t.py:2:12: Warning: Possible KeyError in function 'r'\n"
            "2|\n"
            " |     return d[n] + r(d, n - 1)\n"
            " |            ^^^^\n"
            "\n");
  EXPECT_EQ(analysis.err, summary("r") + summary("<module>"));
}

TEST(AnalyzeFileTest, RecursionRaisingOnlyThroughACallee) {
  Analysis analysis = analyze(
      "def h(d):\n    return d['k']\n"
      "def r(d):\n    return r(h(d))\n");
  EXPECT_EQ(analysis.out,
            kAccessInH +
            "t.py:4:12: Warning: Possible KeyError not handled when calling 'r' in function 'r'\n"
            "4|\n"
            " |     return r(h(d))\n"
            " |            ^^^^^^^\n"
            "\n");
  EXPECT_EQ(analysis.err, summary("h") + summary("r") + summary("<module>"));
}

TEST(AnalyzeFileTest, RaisingCallsOnOneLineAreReportedOnce) {
  const std::string callee = "def g():\n    return h()\ndef h():\n    return {}['k']\n";
  Analysis one_line = analyze(callee + "def f():\n    g(); g()\n");
  Analysis two_lines = analyze(callee + "def f():\n    g()\n    g()\n");
  auto count = [](const std::string& text, const std::string& needle) {
    std::size_t found = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + 1)) {
      ++found;
    }
    return found;
  };
  EXPECT_EQ(count(one_line.out, "calling 'g' in function 'f'"), 1u);
  EXPECT_EQ(count(two_lines.out, "calling 'g' in function 'f'"), 2u);
  EXPECT_NE(two_lines.out.find("t.py:6:5:"), std::string::npos);
  EXPECT_NE(two_lines.out.find("t.py:7:5:"), std::string::npos);
}

TEST(AnalyzeFileTest, NestedSubscriptsGiveTwoFindingsOuterFirst) {
  Analysis analysis = analyze("def f():\n    return a[b[c]]\n");
  EXPECT_EQ(analysis.out,
            "t.py:2:12: Warning: Possible KeyError in function 'f'\n"
            "2|\n"
            " |     return a[b[c]]\n"
            " |            ^^^^^^^\n"
            "\n"
            "t.py:2:14: Warning: Possible KeyError in function 'f'\n"
            "2|\n"
            " |     return a[b[c]]\n"
            " |              ^^^^\n"
            "\n");
}

TEST(AnalyzeFileTest, RaisingCallInANestedFunctionIsNamedOnce) {
  Analysis analysis = analyze(
      "def g():\n    return h()\n"
      "def h():\n    return {}['k']\n"
      "def outer():\n    def inner():\n        return g()\n    return inner\n");
  // inner ends before outer, so it is visited first and owns the finding;
  // g, defined before h, reports its call of h before h is visited.
  EXPECT_NE(analysis.out.find("calling 'g' in function 'inner'"), std::string::npos);
  EXPECT_NE(analysis.out.find("calling 'h' in function 'g'"), std::string::npos);
  EXPECT_EQ(analysis.out.find("in function 'outer'"), std::string::npos);
  EXPECT_EQ(analysis.err, summary("g") + summary("h") + summary("inner") + summary("<module>"));
}

TEST(AnalyzeFileTest, SubscriptUnderANonCatchingHandlerIsReported) {
  Analysis analysis = analyze(
      "def f(d):\n    try:\n        return d['k']\n    except ValueError:\n        pass\n");
  EXPECT_NE(analysis.out.find("t.py:3:16: Warning: Possible KeyError in function 'f'"),
            std::string::npos);
}

TEST(AnalyzeFileTest, ModuleLevelCallOfARaisingFunction) {
  Analysis analysis = analyze(
      "def g():\n    return h()\ndef h():\n    return {}['k']\n"
      "g()\n");
  EXPECT_NE(analysis.out.find("t.py:5:1: Warning: Possible KeyError not handled when calling "
                              "'g' in function '<module>'"),
            std::string::npos);
}

TEST(AnalyzeFileTest, SyntaxErrorsReportWhatTheTreeHolds) {
  Analysis analysis = analyze("def f(:\n    return d['k']\n)))\n");
  EXPECT_TRUE(analysis.has_issues);
  EXPECT_NE(analysis.out.find("Possible KeyError in function 'f'"), std::string::npos);
}

TEST(AnalyzeFileTest, OutputIsTheSameOnEveryRun) {
  std::string source;
  for (int i = 0; i < 50; ++i) {
    source += "def f" + std::to_string(i) + "(d):\n    return d[" + std::to_string(i) +
              "] + f" + std::to_string((i + 7) % 50) + "(d)\n";
  }
  Analysis first = analyze(source);
  for (int run = 0; run < 3; ++run) {
    Analysis again = analyze(source);
    EXPECT_EQ(again.out, first.out);
    EXPECT_EQ(again.err, first.err);
  }
}

// What an editor is shown of a finding: its message, place and confidence.
std::string shown(const Finding& finding) {
  std::string text = readable_message(finding, "t.py");
  std::visit(
      [&](const auto& record) {
        if constexpr (requires { record.start; }) {
          for (uint32_t number : {record.start.row, record.start.byte_column, record.end.row,
                                  record.end.byte_column, record.comment_row}) {
            text += ' ';
            text += std::to_string(number);
          }
        }
        if constexpr (requires { record.risk; }) {
          if (record.risk) text += record.risk->reason.view();
        }
      },
      finding);
  return text;
}

// The editor's analysis leaves each finding's source line and token text
// out, and nothing else.
TEST(AnalyzeFileTest, FindingsWithoutExcerptsDifferInTheirExcerptsAlone) {
  const std::vector<std::string> sources = {
      "def f(d, k):\n    return d[k]\n",
      "def f(d):\n    return g(\n        d,\n    )[\n        'k'\n    ]\n",
      "def h(d):\n    return d['k']\ndef g(d):\n    return h(d)  # why\ng({})\n",
      "def f(:\n    return d['k']\n)))\n",
  };
  for (const std::string& source : sources) {
    for (bool precise : {true, false}) {
      AnalysisOptions options{.honour_suppressions = true, .precise = precise};
      FileReport full = analyze_file("t.py", source, options);
      options.excerpts = false;
      FileReport bare = analyze_file("t.py", source, options);
      ASSERT_EQ(bare.findings.size(), full.findings.size()) << source;
      ASSERT_FALSE(full.findings.empty()) << source;
      for (std::size_t i = 0; i < full.findings.size(); ++i) {
        EXPECT_EQ(shown(bare.findings[i]), shown(full.findings[i])) << source;
        if (const auto* access = std::get_if<AccessFinding>(&bare.findings[i])) {
          EXPECT_TRUE(access->source_text.empty() && !access->source_line && !access->key_line);
        }
        if (const auto* call = std::get_if<CallFinding>(&bare.findings[i])) {
          EXPECT_TRUE(call->source_text.empty() && !call->source_line);
        }
      }
    }
  }
}

}  // namespace
}  // namespace keyhound
