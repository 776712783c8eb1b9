// THttpClient: the blocking HTTP client through which a search job fetches result pages. It is a
// thin layer over one libcurl handle that is reused for every request, so a connection to the
// same server (or proxy) is kept alive between pages.
//
// Get either returns the response body as bytes or raises EHttpError whose message names the URL
// and the cause: any transport failure, a status of 400 or above, more than 5 redirects, a body
// over 16 MiB (enforced while receiving), nothing received for ReadTimeout milliseconds, a page
// not complete within TotalTimeout, a page arriving slower than the low-speed floor, or a URL
// holding control characters (CR, LF, NUL, ...), which is refused before anything is sent. Blanks
// and bytes of 128 and above in a URL are sent percent-encoded. A request that the caller's
// AbortRequested hook ends raises EHttpAborted (an EHttpError).
//
// So every request ends: a server that keeps sending a byte now and then cannot hold the client
// beyond TotalTimeout, nor below the floor for longer than LowSpeedTime.
//
// Proxy: with an empty ProxyServer the connection is direct and proxy variables of the
// environment (http_proxy, ...) are ignored; with a proxy set, every request goes through it and
// NO_PROXY does not bypass it. The proxy password never appears in a message.
//
// Ownership: the search job owns its client. It is configured on the host's thread during
// construction and then used by the job thread only, one request at a time.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ansi_string.h"

class THttpClient {
  public:
    THttpClient();
    virtual ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    AnsiString UserAgent;
    AnsiString AcceptLanguage;
    // Milliseconds without a byte received before a request fails; also the longest a
    // connection may take to be made.
    int ReadTimeout = 30000;
    // Milliseconds a request may take as a whole, connection included, until its last byte;
    // 0: no limit.
    int TotalTimeout = 120000;
    // The low-speed floor: a request fails when fewer than LowSpeedLimit bytes a second arrive
    // for LowSpeedTime seconds in a row (the rate as libcurl measures it, over its last few
    // seconds); 0 in either: no floor. 100 bytes a second is far below any working connection:
    // a result page (several KB, tens of KB from a real engine) would take a minute or more to
    // come at that pace, so the floor only ends early a page that could hardly finish within
    // TotalTimeout. A pause of a few seconds (a proxy waiting for the engine) does not count
    // unless the rate stays below the floor for the whole LowSpeedTime.
    int LowSpeedLimit = 100;
    int LowSpeedTime = 30;
    // Asked on the requesting thread while a request is under way, at least about once a
    // second; when it returns true (or raises), the request is dropped at once and Get raises
    // EHttpAborted. Empty: never asked.
    std::function<bool()> AbortRequested;

    bool ProxyBasicAuthentication = false;
    AnsiString ProxyServer;  // empty: direct connection
    int ProxyPort = 0;
    AnsiString ProxyUsername;
    AnsiString ProxyPassword;

    static constexpr size_t kMaxBodyBytes = 16u * 1024 * 1024;

    // Blocking GET of `url`; returns the body. Raises EHttpError on every failure. Virtual so
    // that a job can be given pages from somewhere other than the network (a test's script).
    virtual AnsiString Get(const AnsiString& url);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
