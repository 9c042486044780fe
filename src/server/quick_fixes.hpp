#pragma once

#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/document_findings.hpp"
#include "server/open_document.hpp"

namespace keyhound {

// The quick fixes of the findings that overlap the bytes [start, end] of
// `document`, whose current text they were found in: a `# noqa` comment on
// the finding's line (where --add-noqa puts it), a file-level comment, and
// for a lookup whose value is read, `V.get(K)`, which is never preferred
// since it turns a missing key into None.
nlohmann::json quick_fixes(const OpenDocument& document, const std::vector<ShownFinding>& findings,
                           uint32_t start, uint32_t end, PositionEncoding encoding);

}  // namespace keyhound
