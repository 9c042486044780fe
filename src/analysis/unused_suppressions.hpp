#pragma once

#include <string_view>
#include <vector>

#include <tree_sitter/api.h>

#include "analysis/findings.hpp"
#include "analysis/report_pass.hpp"
#include "analysis/suppression.hpp"

namespace keyhound {

// The suppression comments of a file that suppress nothing (KH100), given
// `unsuppressed`: the findings of the same analysis with every suppression
// ignored. A comment is unused for each KH code it names (or, for a bare
// `# keyhound: ignore`, for every code) that no such finding on its logical
// line has; a bare `# noqa` is left alone, since other tools read it too,
// and so are codes of other tools. Erring on the side of "used": a comment
// that suppressed a finding which another suppression would have removed
// anyway still counts as used.
std::vector<UnusedSuppressionFinding> unused_suppressions(
    const std::vector<TSNode>& comments, std::string_view source, const Suppressions& suppressions,
    const std::vector<Finding>& unsuppressed, const FindingMaker& make);

}  // namespace keyhound
