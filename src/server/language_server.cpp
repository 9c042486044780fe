#include "server/language_server.hpp"

#include "server/lsp_session.hpp"
#include "server/message_framing.hpp"
#include "server/message_writer.hpp"

namespace keyhound {

int run_language_server(int in_fd, int out_fd) {
  MessageWriter writer(out_fd);
  FrameReader reader(in_fd);
  LspSession session(writer);
  for (;;) {
    auto frame = reader.next();
    // The input ended, or the client went away: without `exit`.
    if (!frame || writer.broken()) break;
    if (!*frame) {
      session.refuse_frame(frame->error());
      continue;
    }
    if (!session.handle(**frame)) return session.exit_status();
  }
  return session.exit_status();
}

}  // namespace keyhound
