#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/findings.hpp"
#include "server/text_positions.hpp"

namespace keyhound {

// A finding of an open document as the editor gets it, with what its
// quick fixes need.
struct ShownFinding {
  std::string code;
  std::string message;
  // 0-based rows and byte columns, as the analysis gives them.
  Position start;
  Position end;
  uint32_t comment_row = 0;
  // A lookup, which may have a `.get()` fix.
  bool lookup = false;
  // For a call: the lookup the KeyError comes from, and how it reads.
  std::optional<Position> origin;
  std::string origin_text;
  // Precise mode's confidence, which gives the diagnostic's severity.
  std::optional<Confidence> confidence;
};

// The findings of a report (already selected), in report order.
std::vector<ShownFinding> shown_findings(const FileReport& report);

// A range of the protocol for the rows and byte columns of `text`.
nlohmann::json lsp_range(std::string_view text, const LineStarts& lines, Position start,
                         Position end, PositionEncoding encoding);

// The diagnostics of `findings` in `text` (the text they were found in),
// for the document `uri`, as the text of a JSON array: written once per
// analysis and sent as it is, with no tree of JSON values between, which
// for a document of thousands of findings cost more than its analysis.
std::string lsp_diagnostics(const std::vector<ShownFinding>& findings, std::string_view text,
                            const LineStarts& lines, const std::string& uri,
                            PositionEncoding encoding);

}  // namespace keyhound
