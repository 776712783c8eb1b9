// Upstream: one way out of the gateway towards the engines, as a line of proxies.lst or the
// user's proxy.def names it: a direct connection, or an HTTP, HTTPS or SOCKS5 proxy with an
// optional user name and password.
//
// An upstream is shown everywhere by its label: "host:port" ("[::1]:3128" for an IPv6 address),
// "direct", and "host:port#2", "#3" ... for the second and later upstreams at the same host and
// port (one proxy service with several accounts). Events, statistics, the state file and every
// message use the label; the password stays in this struct and in the gateway's libcurl handles.
//
// Plain values and free functions without state; any thread.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "jobfiles/job_files.h"

namespace rankcheck::gateway {

enum class UpstreamKind {
    Direct,
    Http,    // http://   an HTTP proxy
    Https,   // https://  an HTTP proxy reached over TLS
    Socks5,  // socks5:// a SOCKS5 proxy; host names are resolved here
    Socks5h  // socks5h:// a SOCKS5 proxy that resolves host names itself
};

struct Upstream {
    UpstreamKind kind = UpstreamKind::Direct;
    std::string host;  // as written; an IPv6 address in brackets ("[::1]")
    int port = 0;
    std::string user;  // percent-decoded
    std::string password;
    std::string label = "direct";  // see above; set by ParseUpstream and LabelUpstreams

    bool IsProxy() const { return kind != UpstreamKind::Direct; }
    // "http://host:port" (the scheme as written) for libcurl's proxy option, without the
    // credentials; empty for a direct connection.
    std::string ProxyUrl() const;
    // The same upstream: kind, host (ignoring case), port and user.
    bool SameAs(const Upstream& other) const;
};

// A line that does not name an upstream. The message says what is wrong and never holds the
// password.
class UpstreamError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Parses "direct", "http://[user[:password]@]host:port", "https://...", "socks5://..." or
// "socks5h://..." (blanks around it are ignored; user and password are percent-decoded, so that
// "%40" stands for "@" and "%3A" for ":"; an unencoded "@" in the password works too, as the
// last "@" ends the credentials). Nothing may follow the port but an optional "/". Throws
// UpstreamError.
Upstream ParseUpstream(const std::string& text);

// Sets every label: "host:port", with "#2", "#3", ... for later upstreams at the same host and
// port, and "direct".
void LabelUpstreams(std::vector<Upstream>& upstreams);

// The upstream that the user's proxy.def names: direct, or an HTTP proxy with or without
// credentials.
Upstream UpstreamFromProxySettings(const jobfiles::ProxySettings& settings);

// The proxy.def a plug-in reads to reach a gateway at host:port: a proxy without credentials.
jobfiles::ProxySettings GatewayProxySettings(const std::string& host, int port);

}  // namespace rankcheck::gateway
