#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "syntax/position.hpp"

namespace keyhound {

// The renderer: turns findings into the lines the user reads. It holds no
// state; every line is built in one buffer and written at once, findings and
// excerpts to standard output, summaries to standard error.
//
// `colorize` is the process's colour decision unless a caller (a test) pins
// it; it is looked up only when a finding is actually printed.

void print_access_warning(std::string_view path, std::string_view function, Position start,
                          Position end, const std::vector<std::string_view>& lines,
                          bool colorize);
void print_access_warning(std::string_view path, std::string_view function, Position start,
                          Position end, const std::vector<std::string_view>& lines);

void print_call_warning(std::string_view path, std::string_view function,
                        std::string_view callee,
                        const std::unordered_set<std::string>& exceptions, Position start,
                        Position end, const std::vector<std::string_view>& lines,
                        bool colorize);
void print_call_warning(std::string_view path, std::string_view function,
                        std::string_view callee,
                        const std::unordered_set<std::string>& exceptions, Position start,
                        Position end, const std::vector<std::string_view>& lines);

// The four excerpt lines: gutter number, source line, caret line, blank.
void print_source_snippet(Position start, Position end,
                          const std::vector<std::string_view>& lines, bool colorize);

// "Potential issue(s) in function '{function}': Warnings found in '{function}'"
// on standard error, never coloured.
void print_function_summary(std::string_view function);

// The message of the error a function with findings produces.
std::string function_warnings_message(std::string_view function);
// The message of the error `analyze_file` returns for a file with findings.
std::string file_issues_message(std::string_view path);

}  // namespace keyhound
