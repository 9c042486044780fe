#pragma once

#include <string>
#include <vector>

namespace keyhound {

// The argument vector the operating system handed to this process, element 0
// first, as raw bytes: not what an interpreter made of it.
std::vector<std::string> process_arguments();

}  // namespace keyhound
