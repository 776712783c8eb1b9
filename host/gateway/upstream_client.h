// UpstreamClient: the requests that go out through one upstream, over libcurl. An HTTP, HTTPS or
// SOCKS5 proxy is libcurl's own; a direct upstream connects to the engine itself.
//
// Each request is bounded as a whole by the time-out. The answer comes back as it is, whatever
// its status: redirects are not followed (the gateway judges them), and a compressed page is
// unpacked (the gateway reads it, and sends it on uncompressed over the loopback). A request
// that brings no answer comes back with its cause in words, naming the upstream by its label or
// a direct connection's host:port and never holding the password.
//
// Libcurl handles are kept and reused, so that the connection to an upstream stays open from
// one request to the next. Owned by the gateway, one per upstream; its worker threads call Get
// at the same time (each request takes its own handle).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/gateway/upstream.h"

namespace rankcheck::gateway {

struct ClientSettings {
    std::chrono::milliseconds timeout = std::chrono::seconds(20);
    size_t maxBytes = 16u * 1024 * 1024;  // a longer page fails
    // libcurl CONNECT_TO entries ("HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT") for a direct
    // upstream: where tests and benchmarks have their engines.
    std::vector<std::string> connectTo;
};

// The plug-in's request headers that go on to the engine; the others are the gateway's own.
struct ForwardedHeaders {
    std::string userAgent;
    std::string acceptLanguage;
    std::string accept;
};

struct UpstreamAnswer {
    bool answered = false;  // an HTTP answer came, of any status
    long status = 0;
    std::string body;
    std::string contentType;
    std::string location;    // of a redirect
    std::string retryAfter;  // as sent
    std::string cause;       // without an answer: why, e.g. "connection refused by 10.0.0.5:3128"
    bool timedOut = false;
    double ms = 0;  // from sending to the whole answer (or the failure)
    // When the request went out (its connection made); the start of the attempt if it never did.
    std::chrono::steady_clock::time_point sent{};
};

class UpstreamClient {
  public:
    UpstreamClient(Upstream upstream, ClientSettings settings);
    ~UpstreamClient();
    UpstreamClient(const UpstreamClient&) = delete;
    UpstreamClient& operator=(const UpstreamClient&) = delete;

    // A GET of `url` (absolute, http://) through the upstream. `stop` turning true cuts the
    // request short (within a second), with the cause "the gateway is stopping".
    UpstreamAnswer Get(const std::string& url, const ForwardedHeaders& headers,
                       const std::atomic<bool>& stop);

    const Upstream& upstream() const { return upstream_; }

    // "20 s", "1.5 s", "300 ms": a time-out as a cause line says it.
    static std::string DurationWords(std::chrono::milliseconds ms);

  private:
    struct Handle;
    std::unique_ptr<Handle> TakeHandle();
    void GiveBack(std::unique_ptr<Handle> handle);
    std::string FailureCause(const Handle& handle, int code, const std::string& url) const;

    const Upstream upstream_;
    const ClientSettings settings_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Handle>> idle_;  // guarded by mutex_
};

}  // namespace rankcheck::gateway
