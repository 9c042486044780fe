#include <gtest/gtest.h>

#include <string>

#include "analysis/analyze_file.hpp"
#include "cache/report_codec.hpp"

namespace keyhound {
namespace {

// A report with every kind of record, from the pass itself.
FileReport sample() {
  FileReport report = analyze_file(
      "a.py",
      "X = {}['m']\n"
      "def h(d):\n    return d['k\xc3\xa9']\n"
      "def g(d):\n    return h(d)\n"
      "def f(d):\n    return g(\n        d)\n"
      "def broken(:\n    pass\n",
      AnalysisOptions{true, true});
  return report;
}

TEST(ReportCodecTest, RoundTripKeepsEveryRecordAndTakesTheNewPath) {
  FileReport report = sample();
  ASSERT_GE(report.findings.size(), 5u);
  std::string bytes = encode_findings(report);
  std::optional<FileReport> decoded = decode_findings(bytes, "b.py");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->path, "b.py");
  EXPECT_EQ(decoded->outcome.status, FileStatus::HasFindings);
  EXPECT_EQ(decoded->outcome.message, "Potential issue(s) found in 'b.py'");
  EXPECT_TRUE(decoded->precise);
  // Encoding the decoded report gives the same bytes: nothing was lost.
  EXPECT_EQ(encode_findings(*decoded), bytes);
}

TEST(ReportCodecTest, CleanReportRoundTrips) {
  FileReport clean = analyze_file("c.py", "x = 1\n");
  std::optional<FileReport> decoded = decode_findings(encode_findings(clean), "c.py");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->outcome.status, FileStatus::Clean);
  EXPECT_TRUE(decoded->findings.empty());
}

TEST(ReportCodecTest, AnyDamageIsRefused) {
  std::string bytes = encode_findings(sample());
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(decode_findings(std::string_view(bytes).substr(0, size), "a.py")) << size;
  }
  for (std::size_t at = 0; at < bytes.size(); at += 7) {
    std::string flipped = bytes;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x5A);
    EXPECT_FALSE(decode_findings(flipped, "a.py")) << at;
  }
  EXPECT_FALSE(decode_findings(bytes + "x", "a.py"));
}

}  // namespace
}  // namespace keyhound
