#pragma once

namespace keyhound {

// How a finding is shown. The module's way: its message, byte columns,
// the excerpt as it is, carets from the start to the end column even when
// the node ends on a later row. The readable way (the command's default):
// the message that names the lookup, code-point columns in the header, tabs
// expanded and carets placed by display width (wide characters two columns,
// combining marks none), and a node spanning rows marked to the end of the
// row shown, so that a deeply nested one cannot blow every finding up to
// the width of its last row.
enum class ExcerptStyle { Module, Readable };

// How reports are presented, chosen once for a run by its mode and handed
// to every format: the module's presentation (its texts, byte for byte) or
// the readable one of the command's default mode.
struct Presentation {
  // Messages, columns, heads and excerpts (see ExcerptStyle).
  ExcerptStyle style = ExcerptStyle::Module;
  // The machine formats quote the lookup (JSON's `source`, SARIF's
  // `snippet`).
  bool quotes_source = false;
  // "Potential issue(s) in function ..." after each function's findings,
  // and each file's closing line ("No issues found in ...").
  bool function_and_file_lines = true;
  // A closing total ("Found 3 findings in 2 files.") from the formats whose
  // module form has none (the caret report, GitHub's annotations).
  bool run_total = false;
};

inline constexpr Presentation kModulePresentation{};
inline constexpr Presentation kReadablePresentation{ExcerptStyle::Readable, true, false, true};

// The presentation of a mode.
constexpr const Presentation& presentation_of(bool precise) {
  return precise ? kReadablePresentation : kModulePresentation;
}

}  // namespace keyhound
