#include "cache/report_codec.hpp"

#include "syntax/node_positions.hpp"

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <unordered_map>
#include <variant>

#include "syntax/source_lines.hpp"
#include "output/terminal_text.hpp"
#include "base/utf8.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kMagic = "KHR2";

enum Tag : uint8_t { kAccess = 1, kCall = 2, kSummary = 3, kSyntax = 4, kUnused = 5 };

class Writer {
 public:
  void u8(uint8_t value) { bytes_ += static_cast<char>(value); }
  void u32(uint32_t value) {
    char raw[4];
    for (int i = 0; i < 4; ++i) raw[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    bytes_.append(raw, 4);
  }
  void u64(uint64_t value) {
    u32(static_cast<uint32_t>(value));
    u32(static_cast<uint32_t>(value >> 32));
  }
  void text(std::string_view value) {
    u32(static_cast<uint32_t>(value.size()));
    bytes_ += value;
  }
  void position(const Position& at) {
    u32(at.row);
    u32(at.byte_column);
    u32(at.code_point_column);
  }
  std::string take() { return std::move(bytes_); }
  std::string& bytes() { return bytes_; }

 private:
  std::string bytes_;
};

// Reads what Writer wrote; every read fails, and keeps failing, once the
// bytes run out.
// A risk as a byte (0 for none, else 1 + its confidence) and its reason.
void encode_risk(Writer& out, const std::optional<Risk>& risk) {
  out.u8(risk ? static_cast<uint8_t>(1 + static_cast<uint8_t>(risk->confidence)) : 0);
  if (risk) out.text(risk->reason);
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  bool at_end() const { return bytes_.empty(); }

  uint8_t u8() {
    if (!need(1)) return 0;
    auto value = static_cast<uint8_t>(bytes_[0]);
    bytes_.remove_prefix(1);
    return value;
  }
  uint32_t u32() {
    if (!need(4)) return 0;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t{static_cast<uint8_t>(bytes_[i])} << (8 * i);
    bytes_.remove_prefix(4);
    return value;
  }
  std::string text() {
    uint32_t size = u32();
    if (!need(size)) return {};
    std::string value(bytes_.substr(0, size));
    bytes_.remove_prefix(size);
    return value;
  }
  Position position() {
    Position at;
    at.row = u32();
    at.byte_column = u32();
    at.code_point_column = u32();
    return at;
  }

 private:
  bool need(std::size_t size) {
    if (!ok_ || bytes_.size() < size) ok_ = false;
    return ok_;
  }
  std::string_view bytes_;
  bool ok_ = true;
};

}  // namespace

std::string encode_findings(const FileReport& report) {
  Writer out;
  out.bytes() += kMagic;
  out.u8(static_cast<uint8_t>(report.outcome.status));
  out.u8(report.precise ? 1 : 0);
  out.u32(static_cast<uint32_t>(report.findings.size()));
  for (const Finding& finding : report.findings) {
    std::visit(
        [&](const auto& item) {
          using Item = std::decay_t<decltype(item)>;
          if constexpr (std::is_same_v<Item, AccessFinding>) {
            out.u8(kAccess);
            out.text(item.function);
            out.position(item.start);
            out.position(item.end);
            out.text(item.source_text);
            out.text(item.display_text);
            out.u32(item.comment_row);
            out.u8(item.key_start ? 1 : 0);
            if (item.key_start) out.position(*item.key_start);
            encode_risk(out, item.risk);
          } else if constexpr (std::is_same_v<Item, CallFinding>) {
            out.u8(kCall);
            out.text(item.function);
            out.text(item.callee);
            out.u32(static_cast<uint32_t>(item.exceptions.size()));
            for (const std::string& name : item.exceptions) out.text(name);
            out.position(item.start);
            out.position(item.end);
            out.text(item.source_text);
            out.text(item.display_text);
            out.u8(item.origin ? 1 : 0);
            if (item.origin) {
              out.position(item.origin->position);
              out.text(item.origin->display_text);
            }
            out.u32(item.comment_row);
            encode_risk(out, item.risk);
          } else if constexpr (std::is_same_v<Item, FunctionSummary>) {
            out.u8(kSummary);
            out.text(item.function);
          } else if constexpr (std::is_same_v<Item, UnusedSuppressionFinding>) {
            out.u8(kUnused);
            out.position(item.start);
            out.position(item.end);
            out.u32(item.comment_row);
            out.u32(static_cast<uint32_t>(item.codes.size()));
            for (const std::string& code : item.codes) out.text(code);
          } else {
            out.u8(kSyntax);
            out.position(item.start);
            out.position(item.end);
            out.u32(item.comment_row);
          }
        },
        finding);
  }
  return out.take();
}

namespace {

// What a decoded entry is checked against: the text of the file it is for.
// An entry is trusted no further than this, whatever vouched for it: every
// position must lie in the text, every name must be one the terminal can
// show as it is.
class EntryChecker {
 public:
  // The rows are cut only once a record asks: a clean file's entry needs
  // none of them.
  explicit EntryChecker(std::string_view source) : source_(source) {}

  bool position(const Position& at, CodePointColumns& columns) {
    const std::vector<std::string_view>& rows = lines();
    if (at.row > rows.size()) return false;
    std::string_view line = line_at(rows, at.row);
    // A node may end past its line's text, at the carriage return or the
    // line feed, never further.
    if (at.byte_column > line.size() + 2) return false;
    return columns.at(TSPoint{at.row, at.byte_column}).code_point_column == at.code_point_column;
  }
  // Starts and ends are counted apart, each moving along its rows, so that
  // thousands of findings on one long row cost the row once, not once each.
  bool span(const Position& start, const Position& end) {
    lines();
    return position(start, *starts_) && position(end, *ends_) &&
           (start.row < end.row || (start.row == end.row && start.byte_column <= end.byte_column));
  }
  bool origin(const Position& at) {
    lines();
    return position(at, *origins_);
  }
  bool row(uint32_t row) { return row <= lines().size(); }
  const std::vector<std::string_view>& lines() {
    if (!lines_) {
      lines_ = source_lines(source_);
      starts_.emplace(*lines_);
      ends_.emplace(*lines_);
      origins_.emplace(*lines_);
    }
    return *lines_;
  }

  static bool name(std::string_view text) {
    return text.size() <= 4096 && is_valid_utf8(text) &&
           terminal_safe_name(text) == text;
  }
  static bool source_text(std::string_view text) {
    return text.size() <= kLongestSourceText + 4 && is_valid_utf8(text);
  }
  static bool display_text(std::string_view text) {
    return text.size() <= 4 * kMostShownCharacters && is_valid_utf8(text) &&
           text.find('\n') == std::string_view::npos;
  }
  SourceLine line(uint32_t row) {
    SourceLine& line = shared_[row];
    if (!line) line = make_source_line(line_at(lines(), row));
    return line;
  }

 private:
  std::string_view source_;
  std::optional<std::vector<std::string_view>> lines_;
  std::optional<CodePointColumns> starts_;
  std::optional<CodePointColumns> ends_;
  std::optional<CodePointColumns> origins_;
  std::unordered_map<uint32_t, SourceLine> shared_;
};

// The risk written by encode_risk.
bool decode_risk(Reader& in, std::optional<Risk>& risk) {
  uint8_t tag = in.u8();
  if (tag == 0) return true;
  if (tag > 1 + static_cast<uint8_t>(Confidence::High)) return false;
  std::string reason = in.text();
  if (!EntryChecker::display_text(reason)) return false;
  risk = Risk{static_cast<Confidence>(tag - 1), std::move(reason)};
  return true;
}

std::optional<Finding> decode_access(Reader& in, EntryChecker& check) {
  AccessFinding access;
  access.function = in.text();
  access.start = in.position();
  access.end = in.position();
  access.source_text = in.text();
  access.display_text = in.text();
  access.comment_row = in.u32();
  const uint8_t has_key = in.u8();
  if (has_key > 1) return std::nullopt;
  if (has_key == 1) access.key_start = in.position();
  if (!decode_risk(in, access.risk)) return std::nullopt;
  if (!in.ok() || !check.name(access.function) || !check.span(access.start, access.end) ||
      !check.source_text(access.source_text) || !check.display_text(access.display_text) ||
      !check.row(access.comment_row) ||
      (access.key_start && (!check.origin(*access.key_start) ||
                            access.key_start->row <= access.start.row ||
                            access.key_start->row > access.end.row))) {
    return std::nullopt;
  }
  access.source_line = check.line(access.start.row);
  if (access.key_start) access.key_line = check.line(access.key_start->row);
  return access;
}

std::optional<Finding> decode_call(Reader& in, EntryChecker& check, std::size_t most_names) {
  CallFinding call;
  call.function = in.text();
  call.callee = in.text();
  uint32_t names = in.u32();
  if (names > most_names) return std::nullopt;
  for (uint32_t n = 0; n < names && in.ok(); ++n) {
    call.exceptions.push_back(in.text());
    if (!check.name(call.exceptions.back())) return std::nullopt;
  }
  call.start = in.position();
  call.end = in.position();
  call.source_text = in.text();
  call.display_text = in.text();
  if (in.u8() != 0) {
    Position at = in.position();
    call.origin = Origin{at, in.text()};
  }
  call.comment_row = in.u32();
  if (!decode_risk(in, call.risk)) return std::nullopt;
  if (!in.ok() || !check.name(call.function) || !check.name(call.callee) ||
      !check.span(call.start, call.end) || !check.source_text(call.source_text) ||
      !check.display_text(call.display_text) ||
      (call.origin && (!check.origin(call.origin->position) ||
                       !check.display_text(call.origin->display_text))) ||
      !check.row(call.comment_row)) {
    return std::nullopt;
  }
  call.source_line = check.line(call.start.row);
  return call;
}

std::optional<Finding> decode_summary(Reader& in, EntryChecker& check) {
  FunctionSummary summary{in.text()};
  if (!in.ok() || !check.name(summary.function)) return std::nullopt;
  return summary;
}

std::optional<Finding> decode_unused_suppression(Reader& in, EntryChecker& check,
                                                 std::size_t body_size) {
  UnusedSuppressionFinding unused;
  unused.start = in.position();
  unused.end = in.position();
  unused.comment_row = in.u32();
  uint32_t count = in.u32();
  if (!in.ok() || count > body_size) return std::nullopt;
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    unused.codes.push_back(in.text());
    if (!check.name(unused.codes.back()) || unused.codes.back().size() > 16) return std::nullopt;
  }
  if (!in.ok() || !check.span(unused.start, unused.end) || !check.row(unused.comment_row)) {
    return std::nullopt;
  }
  unused.source_line = check.line(unused.start.row);
  return unused;
}

std::optional<Finding> decode_syntax_error(Reader& in, EntryChecker& check) {
  SyntaxErrorFinding syntax;
  syntax.start = in.position();
  syntax.end = in.position();
  syntax.comment_row = in.u32();
  if (!in.ok() || !check.span(syntax.start, syntax.end) || !check.row(syntax.comment_row)) {
    return std::nullopt;
  }
  syntax.source_line = check.line(syntax.start.row);
  return syntax;
}

// One record, checked against the source; nothing when it is corrupt.
std::optional<Finding> decode_finding(Reader& in, EntryChecker& check, std::size_t body_size) {
  switch (in.u8()) {
    case kAccess: return decode_access(in, check);
    case kCall: return decode_call(in, check, body_size);
    case kSummary: return decode_summary(in, check);
    case kSyntax: return decode_syntax_error(in, check);
    case kUnused: return decode_unused_suppression(in, check, body_size);
    default: return std::nullopt;
  }
}

}  // namespace

std::optional<FileReport> decode_findings(std::string_view bytes, std::string_view path,
                                          std::string_view source) {
  if (bytes.size() < kMagic.size() || !bytes.starts_with(kMagic)) return std::nullopt;
  EntryChecker check(source);
  Reader in(bytes.substr(kMagic.size()));
  FileReport report;
  report.path = std::string(path);
  uint8_t status = in.u8();
  if (status > static_cast<uint8_t>(FileStatus::HasFindings)) return std::nullopt;
  report.outcome.status = static_cast<FileStatus>(status);
  if (report.outcome.status == FileStatus::HasFindings) {
    report.outcome.message = file_issues_message(path);
  }
  report.precise = in.u8() != 0;
  uint32_t count = in.u32();
  // Each record takes five bytes at least (its kind and a text's length):
  // a count beyond what the entry can hold is corrupt. A record decoded
  // takes far more room than its bytes, so room is made ahead only for a
  // modest number; the rest grows as records really arrive.
  constexpr std::size_t kSmallestRecord = 5;
  constexpr std::size_t kMostReservedRecords = 4096;
  if (count > bytes.size() / kSmallestRecord) return std::nullopt;
  report.findings.reserve(std::min<std::size_t>(count, kMostReservedRecords));
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    std::optional<Finding> finding = decode_finding(in, check, bytes.size());
    if (!finding) return std::nullopt;
    report.findings.push_back(std::move(*finding));
  }
  if (!in.ok() || !in.at_end()) return std::nullopt;
  return report;
}

}  // namespace keyhound
