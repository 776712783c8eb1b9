// PromptServer: the simulator's HTTP server, the server library's own with one change: on a
// kept-alive connection it reads the next request as soon as it arrives. The library waits for
// that request in rounds of a 10 ms poll and a 1 ms sleep, so a request that came during a sleep
// waited for it: up to 1 ms, and almost every time for a client whose requests follow each other
// at 10 to 11 ms, as a Quillon job's do. A real engine answers at once, and a benchmark of the
// client should not measure the simulator's sleep.
//
// Owned by EngineSim. Each connection is served on one of the library's worker threads; a
// connection waits for its next request at most the keep-alive timeout, and no longer than a
// short slice once the server is stopping.
#pragma once

#include <httplib.h>

namespace enginesim {

class PromptServer : public httplib::Server {
  public:
    // Called by a request handler: the connection of the request being handled closes without
    // a byte of the answer, as if the server had gone away.
    static void DropConnection();

  private:
    // Serves the requests of one accepted connection, then closes it.
    bool process_and_close_socket(socket_t sock) override;
    // Waits until `sock` has something to read (or was closed by the client); false after the
    // keep-alive timeout, once the server stops, or on an error.
    bool WaitForRequest(socket_t sock) const;
};

}  // namespace enginesim
