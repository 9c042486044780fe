#pragma once

#include <string_view>

namespace keyhound {

// Writes all of `bytes` to `fd`, going on after partial and interrupted
// writes. False on any failure, with errno telling why.
bool write_whole(int fd, std::string_view bytes);

}  // namespace keyhound
