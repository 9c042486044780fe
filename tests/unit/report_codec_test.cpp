#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "analysis/analyze_file.hpp"
#include "cache/report_codec.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kSource =
    "X = {}['m']\n"
    "def h(d):\n    return d['k\xc3\xa9']\n"
    "def g(d):\n    return h(d)\n"
    "def f(d):\n    return g(\n        d)\n"
    "def broken(:\n    pass\n";

// A report with every kind of record, from the pass itself.
FileReport sample() { return analyze_file("a.py", kSource, AnalysisOptions{true, true}); }

// The sample's bytes with its first access finding changed by `forge`.
std::string forged(const std::function<void(AccessFinding&)>& forge) {
  FileReport report = sample();
  for (Finding& finding : report.findings) {
    if (auto* access = std::get_if<AccessFinding>(&finding)) {
      forge(*access);
      break;
    }
  }
  return encode_findings(report);
}

TEST(ReportCodecTest, RoundTripKeepsEveryRecordAndTakesTheNewPath) {
  FileReport report = sample();
  ASSERT_GE(report.findings.size(), 5u);
  std::string bytes = encode_findings(report);
  std::optional<FileReport> decoded = decode_findings(bytes, "b.py", kSource);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->path, "b.py");
  EXPECT_EQ(decoded->outcome.status, FileStatus::HasFindings);
  EXPECT_EQ(decoded->outcome.message, "Potential issue(s) found in 'b.py'");
  EXPECT_TRUE(decoded->precise);
  // The excerpts come back from the text, one shared line per row; the
  // quoted texts come back as they were (findings are in file order).
  const AccessFinding* first = nullptr;
  const CallFinding* call = nullptr;
  for (const Finding& finding : decoded->findings) {
    if (!first) first = std::get_if<AccessFinding>(&finding);
    if (!call) call = std::get_if<CallFinding>(&finding);
  }
  ASSERT_NE(first, nullptr);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(excerpt_of(first->source_line), "X = {}['m']");
  EXPECT_EQ(first->display_text, "{}['m']");
  EXPECT_EQ(call->display_text, "g(d)");
  ASSERT_TRUE(call->origin);
  EXPECT_EQ(call->origin->display_text, "d['k\xc3\xa9']");
  // Encoding the decoded report gives the same bytes: nothing was lost.
  EXPECT_EQ(encode_findings(*decoded), bytes);
}

TEST(ReportCodecTest, CleanReportRoundTrips) {
  FileReport clean = analyze_file("c.py", "x = 1\n");
  std::optional<FileReport> decoded = decode_findings(encode_findings(clean), "c.py", "x = 1\n");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->outcome.status, FileStatus::Clean);
  EXPECT_TRUE(decoded->findings.empty());
}

TEST(ReportCodecTest, TruncatedOrExtendedBytesAreRefused) {
  std::string bytes = encode_findings(sample());
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(decode_findings(std::string_view(bytes).substr(0, size), "a.py", kSource)) << size;
  }
  EXPECT_FALSE(decode_findings(bytes + "x", "a.py", kSource));
}

// An entry is checked against the text it is for, whatever vouched for it.
TEST(ReportCodecTest, RecordsThatDoNotFitTheTextAreRefused) {
  struct Forgery {
    const char* what;
    std::function<void(AccessFinding&)> forge;
  };
  const Forgery forgeries[] = {
      {"huge column", [](AccessFinding& a) { a.end.byte_column = 0xFFFFFFF0u; }},
      {"row past the end", [](AccessFinding& a) { a.start.row = a.end.row = 400; }},
      {"code points that do not count", [](AccessFinding& a) { a.end.code_point_column += 1; }},
      {"end before start", [](AccessFinding& a) { std::swap(a.start, a.end); }},
      {"escape in a name", [](AccessFinding& a) { a.function = "f\x1b[2J"; }},
      {"line feed in a name", [](AccessFinding& a) { a.function = "f\nkeyhound: forged"; }},
      {"bidi override in a name", [](AccessFinding& a) { a.function = "f\xe2\x80\xae"; }},
      {"comment row past the end", [](AccessFinding& a) { a.comment_row = 4000; }},
      {"long token text", [](AccessFinding& a) { a.source_text.assign(100000, 'x'); }},
  };
  ASSERT_TRUE(decode_findings(forged([](AccessFinding&) {}), "a.py", kSource));
  for (const Forgery& forgery : forgeries) {
    EXPECT_FALSE(decode_findings(forged(forgery.forge), "a.py", kSource)) << forgery.what;
  }
  // The same entry read for another, shorter text does not fit it either.
  EXPECT_FALSE(decode_findings(encode_findings(sample()), "a.py", "x = 1\n"));
}

}  // namespace
}  // namespace keyhound
