#pragma once

#include <string>

namespace keyhound {

// The user's home directory: HOME when it is set to an absolute path, else
// the one the password database gives the effective user (some containers
// and CI runners start without HOME). Empty when neither knows one.
std::string home_directory();

}  // namespace keyhound
