#pragma once

#include <string>
#include <vector>

namespace keyhound {

// The native command from its arguments (argv[0] first) to its exit
// status: checks, --add-noqa, --show-files, --show-settings, --explain.
// `keyhound server` is the front end's own.
int run_native_command(std::vector<std::string> argv);

}  // namespace keyhound
