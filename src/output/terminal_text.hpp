#pragma once

#include <string>
#include <string_view>

namespace keyhound {

// Text from a file or a command line, made safe to reach a terminal. A C0
// control character or DEL would move the cursor or rewrite the screen, so
// it is shown as its control picture (U+2400 to U+2421), which takes one
// column as the byte did; a C1 control character (U+0080 to U+009F), which
// some terminals act on, and a bidirectional embedding, override or isolate
// (U+202A to U+202E, U+2066 to U+2069), which reorders what a reader sees,
// are shown as "<U+202E>" and so on. Everything else, other non-ASCII text
// included, is kept as it is.

// For excerpt lines: a tab stays a tab.
void append_terminal_safe_source(std::string& out, std::string_view text);

// For names (paths, arguments): a tab is shown as its picture too.
void append_terminal_safe_name(std::string& out, std::string_view text);
std::string terminal_safe_name(std::string_view text);

}  // namespace keyhound
