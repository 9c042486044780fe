#pragma once

#include <optional>
#include <span>
#include <string>

#include "output/line_writer.hpp"
#include "project/discovery.hpp"
#include "run/report_stage.hpp"

namespace keyhound {

struct AddNoqaResult {
  std::size_t comments = 0;
  std::size_t files = 0;
  bool any_error = false;
};

// --add-noqa: gives every finding of the run (after selection) a
// `# noqa: KHxxx` where its comment belongs, until the file has no finding
// left (a suppressed lookup no longer makes its callers raise, so one round
// is mostly enough), and replaces each changed file atomically, keeping its
// mode. A file that cannot be read or written is reported and left as it
// was. Standard input is passed over.
// An edit follows a symbolic link only to a file inside what was named
// (the input's `named_root`) or inside the project root of the input's
// configuration (`project_roots[input.project]`, when there is one).
AddNoqaResult add_noqa(std::span<const LintInput> inputs, const ReportStage& stage,
                       bool precise, LineWriter& out,
                       std::span<const std::optional<std::string>> project_roots = {});

}  // namespace keyhound
