#include "host/gateway/upstream_client.h"

#include <curl/curl.h>
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace rankcheck::gateway {

namespace {

using Clock = std::chrono::steady_clock;

void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// "Location: x\r\n" -> true and "x" in `value` when the line is header `name`.
bool HeaderValue(const char* line, size_t length, const char* name, std::string& value) {
    const size_t n = std::strlen(name);
    if (length <= n || ::strncasecmp(line, name, n) != 0 || line[n] != ':') return false;
    size_t start = n + 1, end = length;
    while (start < end && (line[start] == ' ' || line[start] == '\t'))
        ++start;
    while (end > start && (line[end - 1] == '\r' || line[end - 1] == '\n' || line[end - 1] == ' '))
        --end;
    value.assign(line + start, end - start);
    return true;
}

// host[:port] of an absolute URL: where a direct connection goes.
std::string HostPortOf(const std::string& url) {
    std::string rest = url.substr(url.find("://") == std::string::npos ? 0 : url.find("://") + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    return rest.find(':') == std::string::npos ? rest + ":80" : rest;
}

}  // namespace

// One libcurl handle with what a transfer through it collects. The options that never change
// for the upstream are set once, when the handle is made.
struct UpstreamClient::Handle {
    CURL* curl = nullptr;
    char error[CURL_ERROR_SIZE] = {};
    curl_slist* connectTo = nullptr;
    // The transfer under way.
    UpstreamAnswer answer;
    size_t maxBytes = 0;
    bool tooLarge = false;
    const std::atomic<bool>* stop = nullptr;
    bool stopped = false;

    ~Handle() {
        if (curl != nullptr) curl_easy_cleanup(curl);
        curl_slist_free_all(connectTo);
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        auto* h = static_cast<Handle*>(user);
        const size_t n = size * count;
        if (h->answer.body.size() + n > h->maxBytes) {
            h->tooLarge = true;
            return 0;  // aborts the transfer
        }
        h->answer.body.append(data, n);
        return n;
    }
    static size_t OnHeader(char* line, size_t size, size_t count, void* user) {
        auto* h = static_cast<Handle*>(user);
        const size_t n = size * count;
        if (n >= 5 && std::strncmp(line, "HTTP/", 5) == 0) {
            // A new answer begins (after an interim one): only the last one's headers count.
            h->answer.contentType.clear();
            h->answer.location.clear();
            h->answer.retryAfter.clear();
        } else if (!HeaderValue(line, n, "Content-Type", h->answer.contentType) &&
                   !HeaderValue(line, n, "Location", h->answer.location)) {
            HeaderValue(line, n, "Retry-After", h->answer.retryAfter);
        }
        return n;
    }
    static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* h = static_cast<Handle*>(user);
        h->stopped = h->stop != nullptr && h->stop->load();
        return h->stopped ? 1 : 0;
    }
};

UpstreamClient::UpstreamClient(Upstream upstream, ClientSettings settings)
    : upstream_(std::move(upstream)), settings_(std::move(settings)) {
    GlobalInitOnce();
}

UpstreamClient::~UpstreamClient() = default;

std::unique_ptr<UpstreamClient::Handle> UpstreamClient::TakeHandle() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto handle = std::move(idle_.back());
            idle_.pop_back();
            return handle;
        }
    }
    auto h = std::make_unique<Handle>();
    h->curl = curl_easy_init();
    if (h->curl == nullptr) return nullptr;
    CURL* c = h->curl;
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, h->error);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(settings_.maxBytes));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(settings_.timeout.count()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Handle::OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, h.get());
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &Handle::OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, h.get());
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Handle::OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, h.get());
    // An empty proxy switches off the environment's proxy variables too; an empty no-proxy list
    // sends every host through the proxy, whatever NO_PROXY says.
    curl_easy_setopt(c, CURLOPT_PROXY, upstream_.ProxyUrl().c_str());
    curl_easy_setopt(c, CURLOPT_NOPROXY, "");
    if (upstream_.IsProxy() && !upstream_.user.empty()) {
        curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, upstream_.user.c_str());
        curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, upstream_.password.c_str());
        curl_easy_setopt(c, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
    if (!upstream_.IsProxy()) {
        for (const std::string& entry : settings_.connectTo)
            h->connectTo = curl_slist_append(h->connectTo, entry.c_str());
        curl_easy_setopt(c, CURLOPT_CONNECT_TO, h->connectTo);
    }
    h->maxBytes = settings_.maxBytes;
    return h;
}

void UpstreamClient::GiveBack(std::unique_ptr<Handle> handle) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(handle));
}

UpstreamAnswer UpstreamClient::Get(const std::string& url, const ForwardedHeaders& headers,
                                   const std::atomic<bool>& stop) {
    std::unique_ptr<Handle> h = TakeHandle();
    if (!h) {
        UpstreamAnswer failed;
        failed.cause = "cannot make an HTTP client (out of memory?)";
        return failed;
    }
    CURL* c = h->curl;
    h->answer = UpstreamAnswer{};
    h->tooLarge = false;
    h->stop = &stop;
    h->stopped = false;
    h->error[0] = '\0';

    curl_slist* list = nullptr;
    if (!headers.accept.empty())
        list = curl_slist_append(list, ("Accept: " + headers.accept).c_str());
    if (!headers.acceptLanguage.empty())
        list = curl_slist_append(list, ("Accept-Language: " + headers.acceptLanguage).c_str());
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT,
                     headers.userAgent.empty() ? nullptr : headers.userAgent.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, list);

    const Clock::time_point start = Clock::now();
    const CURLcode rc = curl_easy_perform(c);
    h->answer.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(list);

    UpstreamAnswer answer = std::move(h->answer);
    curl_off_t beforeSending = 0;
    curl_easy_getinfo(c, CURLINFO_PRETRANSFER_TIME_T, &beforeSending);
    answer.sent = start + std::chrono::microseconds(beforeSending);
    if (rc == CURLE_OK) {
        answer.answered = true;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.status);
    } else {
        answer.timedOut = rc == CURLE_OPERATION_TIMEDOUT;
        answer.cause = FailureCause(*h, rc, url);
        answer.body.clear();
    }
    h->stop = nullptr;
    GiveBack(std::move(h));
    return answer;
}

std::string UpstreamClient::DurationWords(std::chrono::milliseconds ms) {
    const auto n = ms.count();
    if (n < 1000) return std::to_string(n) + " ms";
    if (n % 1000 == 0) return std::to_string(n / 1000) + " s";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(n) / 1000);
    return text;
}

std::string UpstreamClient::FailureCause(const Handle& h, int code, const std::string& url) const {
    const auto rc = static_cast<CURLcode>(code);
    const bool proxy = upstream_.IsProxy();
    const std::string where = proxy ? upstream_.label : HostPortOf(url);
    const std::string through = proxy ? " through " + upstream_.label : "";
    if (h.stopped) return "the gateway is stopping";
    if (h.tooLarge || rc == CURLE_FILESIZE_EXCEEDED)
        return "the page exceeds " + std::to_string(settings_.maxBytes / (1024 * 1024)) + " MiB" +
               through;
    long osErrno = 0;
    curl_easy_getinfo(h.curl, CURLINFO_OS_ERRNO, &osErrno);
    switch (rc) {
        case CURLE_OPERATION_TIMEDOUT:
            return "timed out after " + DurationWords(settings_.timeout) + through;
        case CURLE_COULDNT_CONNECT:
            if (osErrno == ECONNREFUSED) return "connection refused by " + where;
            return "cannot connect to " + where +
                   (osErrno != 0 ? std::string(": ") + std::strerror(static_cast<int>(osErrno))
                                 : std::string());
        case CURLE_COULDNT_RESOLVE_PROXY:
            return "cannot find the proxy host " + upstream_.host;
        case CURLE_COULDNT_RESOLVE_HOST:
            return "cannot find the host " + where.substr(0, where.rfind(':'));
        case CURLE_GOT_NOTHING:
            return where + " closed the connection without an answer";
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
            return "the answer broke off" + through;
        default:
            break;
    }
    // libcurl's own words for the rest (TLS, SOCKS, ...); the password is never among them, but
    // make sure of it.
    std::string cause = h.error[0] != '\0' ? h.error : curl_easy_strerror(rc);
    const std::string& password = upstream_.password;
    if (!password.empty()) {
        for (size_t p; (p = cause.find(password)) != std::string::npos;)
            cause.replace(p, password.size(), "***");
    }
    return cause + (proxy ? " (proxy " + upstream_.label + ")" : " (" + where + ")");
}

}  // namespace rankcheck::gateway
