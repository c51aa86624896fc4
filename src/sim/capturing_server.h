#pragma once
// An httplib server that keeps the raw bytes of each request. httplib parses headers into a sorted map, which
// loses their order and the case of their names; tests of the program need both, so every connection is
// served through our own socket stream that copies what httplib reads.

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>

namespace tandrel::sim {

class CapturingServer : public httplib::Server {
  public:
    CapturingServer();

    // The bytes read so far for the request being handled on the calling thread: request line, header lines
    // and, inside a handler, the body. Empty outside a handler.
    static std::string CurrentRawRequest();
    // Ends the connection of the request being handled on the calling thread without writing the reply.
    static void DropCurrentConnection();
    // Ends the connection of the request being handled on the calling thread once its reply is written.
    static void CloseCurrentConnectionAfterReply();

    // Makes open connections give up their waits at once; call before stop().
    void BeginShutdown();
    bool ShuttingDown() const { return shuttingDown_; }

  private:
    bool process_and_close_socket(socket_t sock) override;

    std::atomic<bool> shuttingDown_{false};
    std::mutex openMutex_;
    std::set<socket_t> open_;  // the connections being served, ended by BeginShutdown
};

}  // namespace tandrel::sim
