// The editor's memo (of top-level statements' walks and of scopes' flow)
// against no memo at all: a text and a few edits from arbitrary bytes, each
// version analysed with the memo the versions before it left, must give
// the diagnostics a fresh analysis gives. The input is a count of edits (its first byte, modulo 8), four
// bytes per edit (where, low and high byte; how many bytes it deletes;
// which piece of code it inserts), then the text, kept to ASCII.

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "analysis/analyze_file.hpp"
#include "rules/scope_flow_memo.hpp"
#include "server/document_findings.hpp"
#include "server/open_document.hpp"

namespace {

using namespace keyhound;

// What edits insert: pieces that make and break what the rules and the
// flow see, nothing among them.
constexpr std::array<std::string_view, 16> kPieces = {
    "",        "x",       "\n",          "    ",          ":",        "d[k]",
    "if k in d:\n    ", "try:\n    ", "with suppress(KeyError):\n    ", "global C\n",
    "C = {'a': 1}\n", "C.pop('a')\n", "lambda: d['q']", "def g(d):\n    return d[1]\n",
    "from collections import defaultdict\nC = defaultdict(int)\n", "#"};

std::string published(const OpenDocument& document, DocumentMemo* memo) {
  const AnalysisOptions options{.honour_suppressions = true, .precise = true,
                                .report_unused_suppressions = true};
  const std::string& text = *document.text();
  const FileReport report = analyze_parsed("a.py", text, document.tree()->root(), options, memo);
  return lsp_diagnostics(shown_findings(report), text, document.lines(), document.uri(),
                         PositionEncoding::Utf8);
}

// The texts are ASCII: a byte column is a character in either encoding.
LinePosition position_of(const OpenDocument& document, std::size_t offset) {
  const TextPoint point = document.lines().point_of(static_cast<uint32_t>(offset));
  return {point.row, point.byte_column};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t edits = data[0] % 8;
  const std::size_t text_start = 1 + 4 * edits;
  if (size < text_start) return 0;
  std::string text(reinterpret_cast<const char*>(data) + text_start, size - text_start);
  for (char& c : text) c = static_cast<char>(c & 0x7f);
  OpenDocument document("file:///a.py", "/a.py", 1, std::move(text));
  if (document.tree() == nullptr) return 0;
  DocumentMemo memo;
  for (std::size_t edit = 0;; ++edit) {
    if (published(document, &memo) != published(document, nullptr)) std::abort();
    if (edit == edits) break;
    const uint8_t* at = data + 1 + 4 * edit;
    const std::string& now = *document.text();
    const std::size_t from = (at[0] | (std::size_t{at[1]} << 8)) % (now.size() + 1);
    const std::size_t to = std::min(now.size(), from + at[2] % 8);
    ContentChange change{std::make_pair(position_of(document, from), position_of(document, to)),
                         std::string(kPieces[at[3] % kPieces.size()])};
    document.apply({change}, document.version() + 1, PositionEncoding::Utf8);
    if (document.tree() == nullptr) return 0;
  }
  return 0;
}
