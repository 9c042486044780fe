#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace keyhound {

// A source as CPython's tokenizer reads it: a UTF-8 byte order mark is not
// part of the first line, and a carriage return not followed by a line feed
// ends its line as a line feed does. The parser knows only line feeds, so
// rows and columns come out as CPython's once the text is made so: the byte
// order mark dropped, each lone carriage return a line feed (the same
// length, so that every other offset holds). Nothing when the source is so
// already.
std::optional<std::string> as_tokenized(std::string_view source);

// `edited`, made from as_tokenized(original) (or `original` itself) by
// inserting text that holds no line feed, with the original's byte order
// mark and line ends put back.
std::string with_original_line_ends(std::string_view original, std::string_view edited);

}  // namespace keyhound
