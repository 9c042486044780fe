#pragma once

namespace keyhound {

// `keyhound server`: a language server that reads the client's messages
// from `in_fd` and answers on `out_fd` until the client says `exit` or
// the input ends. The answer is the process's exit status: 0 after a
// `shutdown` request, else 1.
int run_language_server(int in_fd, int out_fd);

}  // namespace keyhound
