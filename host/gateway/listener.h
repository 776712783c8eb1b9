// Listener: the gateway's HTTP server, the server library's own with two changes.
//
//   - On a kept-alive connection it reads the next request as soon as it arrives. The library
//     waits for it in rounds of a 10 ms poll and a 1 ms sleep, so that a request coming during
//     a sleep waits for it; a plug-in's requests follow each other at 10 to 15 ms (its pauses),
//     just the rhythm that meets the sleep, and the gateway is to add well under a millisecond.
//   - A handler may send interim answers ("102 Processing") while it waits before the real one
//     (SendInterim). The plug-ins' client gives a request up after 30 s without a byte; a request
//     that waits for its upstream's pace that long is kept alive this way.
//
// Owned by the gateway. Each connection is served on one of the library's worker threads; a
// connection waits for its next request at most the keep-alive time-out, and no longer than a
// short slice once the server is stopping.
#pragma once

#include <httplib.h>

namespace rankcheck::gateway {

class Listener : public httplib::Server {
  public:
    // On a handler's thread: sends "HTTP/1.1 102 Processing" on the connection whose request
    // the handler is answering. False when the connection is gone (or no handler runs here).
    static bool SendInterim();

  private:
    bool process_and_close_socket(socket_t sock) override;
    // Waits until `sock` has something to read (or was closed); false after the keep-alive
    // time-out, once the server stops, or on an error.
    bool WaitForRequest(socket_t sock) const;
};

}  // namespace rankcheck::gateway
