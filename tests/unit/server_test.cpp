// The language server's pieces that hold its logic: positions in both
// encodings, the frame reader, incremental edits, file URIs, quick fixes.

#include <unistd.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analysis/analyze_file.hpp"
#include "server/document_findings.hpp"
#include "server/file_uri.hpp"
#include "server/json_members.hpp"
#include "test_support.hpp"
#include "server/message_framing.hpp"
#include "server/open_document.hpp"
#include "server/quick_fixes.hpp"
#include "server/text_positions.hpp"
#include "syntax/lookup_rewrite.hpp"

namespace keyhound {
namespace {

// "a", "é" (2 bytes, 1 unit), "😀" (4 bytes, 2 units), "b"; then a line
// ending in CRLF; then a last line without an end.
const std::string kText = "a\xC3\xA9\xF0\x9F\x98\x80" "b\n\tx\r\nend";

TEST(TextPositions, OffsetsOfPositionsInBothEncodings) {
  const LineStarts lines(kText);
  struct Case { LinePosition position; uint32_t utf16; uint32_t utf8; };
  const std::vector<Case> cases = {
      {{0, 0}, 0, 0},     {{0, 1}, 1, 1},    {{0, 2}, 3, 2},
      {{0, 3}, 3, 3},     // inside the pair: the character's start (UTF-16)
      {{0, 4}, 7, 4},     {{0, 5}, 8, 5},    {{0, 99}, 8, 8},  // past the line: its end
      {{1, 2}, 11, 11},   {{1, 9}, 11, 11},  // the CR belongs to the line end
      {{2, 3}, 16, 16},   {{7, 0}, 16, 16},  // past the last line: the end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(offset_of(kText, lines, c.position, PositionEncoding::Utf16), c.utf16)
        << c.position.line << ":" << c.position.character;
    EXPECT_EQ(offset_of(kText, lines, c.position, PositionEncoding::Utf8), c.utf8)
        << c.position.line << ":" << c.position.character;
  }
}

// Replacing bytes in place gives the lines a fresh count of the new text
// gives: edits at a line's start and end, across lines, taking line ends
// out and putting them in, at the text's ends.
TEST(TextPositions, LinesKeptThroughEditsAreTheLinesOfTheNewText) {
  std::mt19937 random(20261210);
  const std::string pieces[] = {"", "a", "\n", "\r\n", "bc\n", "\n\n", "def f():\n    x\n"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int piece = random() % 6; piece > 0; --piece) text += pieces[random() % std::size(pieces)];
    LineStarts lines(text);
    for (int edit = 0; edit < 4; ++edit) {
      uint32_t start = static_cast<uint32_t>(random() % (text.size() + 1));
      uint32_t end = start + static_cast<uint32_t>(random() % (text.size() - start + 1));
      const std::string inserted = pieces[random() % std::size(pieces)];
      text.replace(start, end - start, inserted);
      lines.replace(start, end, inserted);
      const LineStarts fresh(text);
      ASSERT_EQ(lines.count(), fresh.count()) << round;
      for (uint32_t row = 0; row <= fresh.count(); ++row) {
        ASSERT_EQ(lines.start(row), fresh.start(row)) << round << " row " << row;
      }
    }
  }
}

TEST(TextPositions, CharactersOfByteColumns) {
  const LineStarts lines(kText);
  const std::string_view first = lines.line(kText, 0);
  EXPECT_EQ(first.size(), 8u);
  EXPECT_EQ(character_of(first, 3, PositionEncoding::Utf16), 2u);
  EXPECT_EQ(character_of(first, 7, PositionEncoding::Utf16), 4u);
  EXPECT_EQ(character_of(first, 7, PositionEncoding::Utf8), 7u);
  // A stray byte counts as one unit, as a lenient decoder shows it.
  EXPECT_EQ(character_of("\xFFz", 2, PositionEncoding::Utf16), 2u);
  // ASCII, then a two-byte and a four-byte character; a column past the end.
  EXPECT_EQ(character_of("ab\xc3\xa9" "c\xf0\x9f\x98\x80!", 10, PositionEncoding::Utf16), 7u);
  EXPECT_EQ(character_of("ab", 9, PositionEncoding::Utf16), 2u);
  EXPECT_EQ(lines.line(kText, 1), "\tx");
  EXPECT_EQ(lines.point_of(12).row, 1u);
  EXPECT_EQ(lines.point_of(13).row, 2u);
  EXPECT_EQ(lines.point_of(13).byte_column, 0u);
}

std::vector<std::string> read_frames(const std::string& bytes, std::size_t largest) {
  int ends[2];
  EXPECT_EQ(pipe(ends), 0);
  std::thread writer([&] {
    EXPECT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(ends[1]);
  });
  FrameReader reader(ends[0], largest);
  std::vector<std::string> got;
  while (auto frame = reader.next()) got.push_back(*frame ? "body:" + **frame : "error:" + frame->error());
  writer.join();
  close(ends[0]);
  return got;
}

TEST(FrameReader, ReadsFramesAndSkipsWhatIsNone) {
  const std::string bytes =
      "Content-Length: 2\r\n\r\n{}"
      "content-length:3\nContent-Type: x\n\n[1]"  // any case, LF alone
      "Content-Type: only\r\n\r\n"                  // no length
      "Content-Length: 1x\r\n\r\n"                  // not a number
      "Content-Length: 12\r\n\r\n0123456789ab"      // over the limit, skipped unread
      "\r\n\r\nContent-Length: 1\r\n\r\n7"
      "Content-Length: 10\r\n\r\ncut";              // the input ends inside it
  const std::vector<std::string> expected = {
      "body:{}",
      "body:[1]",
      "error:a frame without a Content-Length header was skipped",
      "error:the frame's Content-Length is not a number: '1x'",
      "error:a frame of 12 bytes was refused: the largest is 64 MiB",
      "body:7",
  };
  EXPECT_EQ(read_frames(bytes, 10), expected);
}

struct BadFrameCase {
  const char* name;
  std::string bad;
  std::string error;
};

class FrameReaderResyncTest : public ::testing::TestWithParam<BadFrameCase> {};

// A frame whose length is missing or unreadable costs one error: its body
// is skipped and the frame after it is read as sent, not from the middle.
TEST_P(FrameReaderResyncTest, OneBadFrameCostsOneError) {
  const BadFrameCase& c = GetParam();
  const std::string good = "Content-Length: 7\r\n\r\n{\"a\":1}";
  EXPECT_EQ(read_frames(c.bad + good + good, 1 << 20),
            (std::vector<std::string>{"error:" + c.error, "body:{\"a\":1}", "body:{\"a\":1}"}));
}

const std::string kNotANumber = "the frame's Content-Length is not a number: ";
const std::string kNoLength = "a frame without a Content-Length header was skipped";

INSTANTIATE_TEST_SUITE_P(
    BadLengths, FrameReaderResyncTest,
    ::testing::Values(
        BadFrameCase{"plus", "Content-Length: +2\r\n\r\n{}", kNotANumber + "'+2'"},
        BadFrameCase{"decimal", "Content-Length: 2.0\r\n\r\n{}", kNotANumber + "'2.0'"},
        BadFrameCase{"hex", "Content-Length: 0x2\r\n\r\n{}", kNotANumber + "'0x2'"},
        BadFrameCase{"no length", "Content-Type: x\r\n\r\n{\"id\":1,\"p\":[1,{}]}", kNoLength},
        // Brackets, quotes and header text inside strings do not count.
        BadFrameCase{"strings", "Content-Length: x\r\n\r\n{\"t\":\"}]\\\"{ Content-Length: 9\"}",
                     kNotANumber + "'x'"},
        // Not JSON: everything up to the next header goes.
        BadFrameCase{"junk body", "Content-Length: x\r\n\r\nnot json at all", kNotANumber + "'x'"},
        BadFrameCase{"unclosed", "Content-Length: x\r\n\r\nzz{", kNotANumber + "'x'"}),
    [](const auto& info) { return keyhound::testing::case_name(info.index, info.param.name); });

TEST(FrameReader, FramesAreWrittenWithTheirLength) {
  EXPECT_EQ(frame_message("{\"a\":1}"), "Content-Length: 7\r\n\r\n{\"a\":1}");
}

std::vector<std::string> findings_of(std::string_view text, TSNode root) {
  std::vector<std::string> listed;
  const AnalysisOptions options{.honour_suppressions = true, .precise = true};
  for (const ShownFinding& finding : shown_findings(analyze_parsed("a.py", text, root, options))) {
    listed.push_back(finding.code + " " + std::to_string(finding.start.row) + ":" +
                     std::to_string(finding.start.byte_column) + " " + finding.message);
  }
  return listed;
}

// Random edits, each applied to the kept tree: its findings must be those
// of a fresh parse of the same text, or an edit was described wrongly.
TEST(OpenDocument, IncrementalEditsGiveTheFreshParsesFindings) {
  const std::vector<std::string> pieces = {"d['k']", "\n", "def f(x):\n    return x['é😀']\n",
                                           "try:\n", "    pass\nexcept KeyError:\n    pass\n",
                                           "(", ")", "    ", "g(d)", "# c\n", ""};
  OpenDocument document("file:///a.py", "/a.py", 1,
                        "def f(x):\n    return x['a']\n\n\ndef g(y):\n    return f(y)\n");
  std::mt19937 random(20261209);
  for (int version = 2; version < 300; ++version) {
    const LineStarts& lines = document.lines();
    auto position = [&] {
      return LinePosition{static_cast<uint32_t>(random() % (lines.count() + 1)),
                          static_cast<uint32_t>(random() % 12)};
    };
    ContentChange change{std::pair{position(), position()}, pieces[random() % pieces.size()]};
    if (change.range->second.line < change.range->first.line) std::swap(change.range->first, change.range->second);
    const auto encoding = version % 2 ? PositionEncoding::Utf8 : PositionEncoding::Utf16;
    document.apply({change}, version, encoding);
    const std::string& text = *document.text();
    EditableTree fresh(text);
    ASSERT_EQ(findings_of(text, document.tree()->root()), findings_of(text, fresh.root()))
        << "after version " << version << ":\n" << text;
  }
}

TEST(JsonNesting, BracketsInStringsDoNotCount) {
  EXPECT_FALSE(nests_deeper_than(R"([["[[[[", {"a": "\\\"[[["}]])", 3));
  EXPECT_TRUE(nests_deeper_than(R"([[{"a": []}]])", 3));
  EXPECT_FALSE(nests_deeper_than(R"(]]]][[)", 2));
  EXPECT_TRUE(nests_deeper_than(std::string(300, '['), kDeepestNesting));
}

TEST(FileUri, PathsAndUris) {
  EXPECT_EQ(path_of_file_uri("file:///home/a%20b/%C3%A9.py"), "/home/a b/\xC3\xA9.py");
  EXPECT_EQ(path_of_file_uri("file://localhost/x.py"), "/x.py");
  for (const char* refused : {"untitled:Untitled-1", "file://server/share/x.py", "file:///a%2", "file:///a%00b",
                              "file:///a%zz", "https://x/y.py"}) {
    EXPECT_EQ(path_of_file_uri(refused), std::nullopt) << refused;
  }
  EXPECT_EQ(file_uri_of("/home/a b/\xC3\xA9.py"), "file:///home/a%20b/%C3%A9.py");
  EXPECT_EQ(path_of_file_uri(file_uri_of("/x/[1]#?.py")), "/x/[1]#?.py");
}

TEST(LookupRewrite, OnlyForALookupWhoseValueIsRead) {
  struct Case { const char* source; const char* lookup; std::optional<std::string> rewrite; };
  const std::vector<Case> cases = {
      {"x = d[k]\n", "d[k]", "d.get(k)"},
      {"f(a)['k'] + 1\n", "f(a)['k']", "f(a).get('k')"},
      {"del d[k]\n", "d[k]", std::nullopt},
      {"del a, d[k]\n", "d[k]", std::nullopt},
      {"d[k] = 1\n", "d[k]", std::nullopt},
      {"d[k] += 1\n", "d[k]", std::nullopt},
      {"for d[k] in y: pass\n", "d[k]", std::nullopt},
      {"x = d[a:b]\n", "d[a:b]", std::nullopt},
      {"x = d[a, b]\n", "d[a, b]", std::nullopt},
      {"x = d[a,]\n", "d[a,]", std::nullopt},
      {"x = d[k][j]\n", "d[k]", "d.get(k)"},
  };
  for (const Case& c : cases) {
    const std::string source = c.source;
    EditableTree tree(source);
    const auto start = static_cast<uint32_t>(source.find(c.lookup));
    const auto end = start + static_cast<uint32_t>(std::string_view(c.lookup).size());
    EXPECT_EQ(get_call_rewrite(tree.root(), source, start, end), c.rewrite) << c.source;
  }
}

TEST(QuickFixes, TheLineCommentGoesWhereAddNoqaPutsIt) {
  const std::string text = "def f(d):\n    return d['a'] + \\\n        1  # noqa: KH002\n";
  OpenDocument document("file:///a.py", "/a.py", 1, text);
  const AnalysisOptions options{.honour_suppressions = true, .precise = true};
  const auto findings =
      shown_findings(analyze_parsed("a.py", text, document.tree()->root(), options));
  ASSERT_EQ(findings.size(), 1u);
  const nlohmann::json actions = quick_fixes(document, findings, 0, 1000, PositionEncoding::Utf16);
  ASSERT_EQ(actions.size(), 3u);
  const nlohmann::json& edit = actions[0]["edit"]["changes"]["file:///a.py"][0];
  EXPECT_EQ(actions[0]["title"], "Suppress KH001 on this line");
  // Merged into the comment the logical line already ends with.
  EXPECT_EQ(edit["newText"], ", KH001");
  EXPECT_EQ(edit["range"]["start"]["line"], 2);
  EXPECT_EQ(actions[1]["edit"]["changes"]["file:///a.py"][0]["newText"], "# keyhound: noqa: KH001\n");
  EXPECT_EQ(actions[2]["title"], "Use d.get('a') (None when the key is missing)");
  // Nothing for a range away from the finding.
  EXPECT_TRUE(quick_fixes(document, findings, 0, 5, PositionEncoding::Utf16).empty());
}

// The text the editor gets, byte for byte: a lookup on a line with a
// character of two UTF-16 units before it, and a call whose KeyError comes
// from a lookup in another function (g's call is not shown: f shows the
// lookup), with a URI that needs escaping.
TEST(Diagnostics, WrittenAsTheProtocolsJsonText) {
  const std::string text =
      "def f(d):\n    return '\xF0\x9F\x98\x80' + d['k']\n\n\ndef g(d):\n    return f(d)\n\n\n"
      "def h(d):\n    return g(d)\n";
  const std::string uri = "file:///a\\\"b.py";
  OpenDocument document(uri, "/a.py", 1, text);
  const AnalysisOptions options{.honour_suppressions = true, .precise = true};
  const auto findings =
      shown_findings(analyze_parsed("a.py", text, document.tree()->root(), options));
  const std::string start = R"j({"range": {"start": {"line": 1, "character": 18}, "end": {"line": 1, "character": 24}}, "severity": 2, "code": "KH001", "source": "keyhound", "message": )j";
  EXPECT_EQ(lsp_diagnostics(findings, text, document.lines(), uri, PositionEncoding::Utf16),
            "[" + start + R"j("Possible KeyError: d['k'] (a mapping from a parameter) in function 'f'"},)j"
            R"j({"range": {"start": {"line": 9, "character": 11}, "end": {"line": 9, "character": 15}}, "severity": 3, "code": "KH002", "source": "keyhound", "message": "Possible KeyError: g(d) in function 'h' can raise it (from d['k'] at a.py:2:18)", )j"
            R"j("relatedInformation": [{"location": {"uri": "file:///a\\\"b.py", "range": {"start": {"line": 1, "character": 18}, "end": {"line": 1, "character": 18}}}, "message": "the KeyError comes from d['k']"}]}])j");
  EXPECT_EQ(lsp_diagnostics({}, text, document.lines(), uri, PositionEncoding::Utf16), "[]");
}

}  // namespace
}  // namespace keyhound
