#pragma once

#include <string>
#include <string_view>

namespace keyhound {

// How one role of text is painted: the start sequence written before it (the
// reset follows it); empty for plain text.
struct Role {
  std::string start;
};

// Every coloured role of keyhound's outputs, named once. A front end picks
// the preset its own colour rules select; renderers only look roles up.
struct Stylesheet {
  // The findings report: one combined SGR sequence per piece.
  Role warning_label;  // "Warning:"
  Role gutter;         // line numbers and blank gutters
  Role caret;          // the caret line under the node

  // Help, version and command-line errors: one sequence per attribute,
  // then the colour.
  Role error;    // "error:"
  Role heading;  // "Usage:", "Arguments:", "Options:"
  Role literal;  // the program name, flags, the --help of the closing line
  Role valid;    // "tip:", suggestions, the missing argument
  Role invalid;  // the offending element

  static const Stylesheet& plain();
  static const Stylesheet& styled();
};

// Appends `text` to `line` painted as `role`.
void append_styled(std::string& line, std::string_view text, const Role& role);

}  // namespace keyhound
