#include "platform/http_client.h"

#include <curl/curl.h>

#include <chrono>
#include <functional>
#include <mutex>

#include "platform/exceptions.h"

namespace {

using Clock = std::chrono::steady_clock;

void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What one transfer collects, and why it was cut short when it was.
struct Transfer {
    AnsiString body;
    Clock::time_point started;
    Clock::time_point lastByte;
    long readTimeoutMs = 0;
    const std::function<bool()>* abortRequested = nullptr;
    bool requestSent = false;  // a connection was made (or reused) and the request went out
    bool tooLarge = false;
    bool timedOut = false;
    bool aborted = false;
};

// Whether the caller wants the transfer dropped; a hook that raises counts as a yes, since no
// exception may cross libcurl.
bool AbortRequested(const Transfer& t) {
    if (t.abortRequested == nullptr || !*t.abortRequested) return false;
    try {
        return (*t.abortRequested)();
    } catch (...) {
        return true;
    }
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (t->body.size() + n > THttpClient::kMaxBodyBytes) {
        t->tooLarge = true;
        return 0;  // aborts the transfer
    }
    t->body.append(data, n);
    t->lastByte = Clock::now();
    return n;
}

// Header bytes count as a sign of life too.
size_t OnHeader(char*, size_t size, size_t count, void* user) {
    static_cast<Transfer*>(user)->lastByte = Clock::now();
    return size * count;
}

int OnRequestSent(void* user, char*, char*, int, int) {
    static_cast<Transfer*>(user)->requestSent = true;
    return CURL_PREREQFUNC_OK;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (AbortRequested(*t)) {
        t->aborted = true;
        return 1;  // aborts the transfer
    }
    const auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t->lastByte).count();
    if (t->readTimeoutMs > 0 && idle >= t->readTimeoutMs) {
        t->timedOut = true;
        return 1;  // aborts the transfer
    }
    return 0;
}

// Blanks and bytes of 128 and above go out percent-encoded; control characters are refused, so
// that nothing taken from a page can add a header line or a second request.
AnsiString SafeUrl(const AnsiString& url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    AnsiString out;
    out.reserve(url.size());
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            throw EHttpError("GET refused: the URL holds a control character (code " +
                             std::to_string(c) + ")");
        }
        if (c == ' ' || c >= 0x80) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace

struct THttpClient::Impl {
    CURL* curl = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
};

THttpClient::THttpClient() : impl_(std::make_unique<Impl>()) {
    GlobalInitOnce();
    impl_->curl = curl_easy_init();
    if (impl_->curl == nullptr) throw EHttpError("cannot create an HTTP client");
}

THttpClient::~THttpClient() {
    if (impl_->curl != nullptr) curl_easy_cleanup(impl_->curl);
}

namespace {

// The request headers beyond those libcurl writes itself, freed with the request.
class RequestHeaders {
  public:
    explicit RequestHeaders(const AnsiString& acceptLanguage) {
        if (!acceptLanguage.empty()) {
            list = curl_slist_append(list, ("Accept-Language: " + acceptLanguage).c_str());
        }
    }
    ~RequestHeaders() { curl_slist_free_all(list); }
    RequestHeaders(const RequestHeaders&) = delete;
    RequestHeaders& operator=(const RequestHeaders&) = delete;

    curl_slist* list = nullptr;
};

// What is asked for and how: the URL, redirects, size and time limits, headers, and the
// callbacks that collect the transfer into `t`.
void SetRequestOptions(CURL* c, const THttpClient& client, const AnsiString& target,
                       curl_slist* headers, Transfer& t) {
    curl_easy_setopt(c, CURLOPT_URL, target.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(THttpClient::kMaxBodyBytes));
    curl_easy_setopt(c, CURLOPT_USERAGENT, client.UserAgent.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    if (client.ReadTimeout > 0)
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(client.ReadTimeout));
    if (client.TotalTimeout > 0)
        curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(client.TotalTimeout));
    if (client.LowSpeedLimit > 0 && client.LowSpeedTime > 0) {
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(client.LowSpeedLimit));
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(client.LowSpeedTime));
    }
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, &OnRequestSent);
    curl_easy_setopt(c, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
}

// An empty proxy string switches proxies off, environment variables included; an empty no-proxy
// list makes the proxy apply to every host, whatever NO_PROXY says.
void SetProxyOptions(CURL* c, const THttpClient& client) {
    if (client.ProxyServer.empty()) {
        curl_easy_setopt(c, CURLOPT_PROXY, "");
        return;
    }
    curl_easy_setopt(c, CURLOPT_PROXY, client.ProxyServer.c_str());
    curl_easy_setopt(c, CURLOPT_PROXYPORT, static_cast<long>(client.ProxyPort));
    curl_easy_setopt(c, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    curl_easy_setopt(c, CURLOPT_NOPROXY, "");
    if (!client.ProxyUsername.empty() || !client.ProxyPassword.empty()) {
        curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, client.ProxyUsername.c_str());
        curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, client.ProxyPassword.c_str());
        curl_easy_setopt(c, CURLOPT_PROXYAUTH,
                         client.ProxyBasicAuthentication ? CURLAUTH_BASIC : CURLAUTH_ANY);
    }
}

// Which of the client's own limits ended a transfer that libcurl timed out, in the client's
// words, or empty when it was the connection's time limit (libcurl's words name that one).
std::string TimeLimitReached(CURL* c, const Transfer& t, const THttpClient& client) {
    curl_off_t received = 0;
    curl_easy_getinfo(c, CURLINFO_SIZE_DOWNLOAD_T, &received);
    const std::string bytes = " (" + std::to_string(received) + " bytes of the body received)";
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t.started).count();
    // libcurl's timer may end the transfer a little before the time it was given.
    constexpr long long kTimerRoundingMs = 10;
    if (client.TotalTimeout > 0 && elapsed + kTimerRoundingMs >= client.TotalTimeout) {
        return "the page was not complete within " + std::to_string(client.TotalTimeout) + " ms" +
               bytes;
    }
    // The floor is watched only once the request has gone out; before that the time limit
    // was the connection's.
    if (t.requestSent && client.LowSpeedLimit > 0 && client.LowSpeedTime > 0) {
        return "the page came slower than " + std::to_string(client.LowSpeedLimit) +
               " bytes/s for " + std::to_string(client.LowSpeedTime) + " s" + bytes;
    }
    return "";
}

// Why a finished transfer failed, or empty when it succeeded. `errorBuffer` holds libcurl's
// own words; the proxy password never appears in what is returned.
std::string FailureCause(CURL* c, CURLcode rc, const Transfer& t, const THttpClient& client,
                         const char* errorBuffer) {
    if (t.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
        return "the response body exceeds " + std::to_string(THttpClient::kMaxBodyBytes) + " bytes";
    }
    if (t.timedOut) return "nothing received for " + std::to_string(client.ReadTimeout) + " ms";
    if (rc == CURLE_OPERATION_TIMEDOUT) {
        if (const std::string limit = TimeLimitReached(c, t, client); !limit.empty()) return limit;
    }
    if (rc != CURLE_OK) {
        std::string cause = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(rc);
        const std::string& password = client.ProxyPassword;
        if (!password.empty()) {
            for (size_t p; (p = cause.find(password)) != std::string::npos;)
                cause.replace(p, password.size(), "***");
        }
        return cause;
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) return "HTTP status " + std::to_string(status);
    return "";
}

}  // namespace

AnsiString THttpClient::Get(const AnsiString& url) {
    const AnsiString target = SafeUrl(url);
    CURL* c = impl_->curl;
    Transfer t;
    t.readTimeoutMs = ReadTimeout;
    t.abortRequested = &AbortRequested;
    t.started = t.lastByte = Clock::now();

    curl_easy_reset(c);  // keeps the connection cache: the connection stays alive
    impl_->errorBuffer[0] = '\0';
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, impl_->errorBuffer);
    const RequestHeaders headers(AcceptLanguage);
    SetRequestOptions(c, *this, target, headers.list, t);
    SetProxyOptions(c, *this);

    const CURLcode rc = curl_easy_perform(c);
    if (t.aborted) throw EHttpAborted("GET " + target + " abandoned: its caller asked to stop");
    const std::string cause = FailureCause(c, rc, t, *this, impl_->errorBuffer);
    if (!cause.empty()) throw EHttpError("GET " + target + " failed: " + cause);
    return std::move(t.body);
}
