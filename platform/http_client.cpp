#include "platform/http_client.h"

#include <curl/curl.h>

#include <chrono>
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
    Clock::time_point lastByte;
    long readTimeoutMs = 0;
    bool tooLarge = false;
    bool timedOut = false;
};

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

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
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

AnsiString THttpClient::Get(const AnsiString& url) {
    const AnsiString target = SafeUrl(url);
    CURL* c = impl_->curl;
    Transfer t;
    t.readTimeoutMs = ReadTimeout;
    t.lastByte = Clock::now();

    curl_easy_reset(c);  // keeps the connection cache: the connection stays alive
    impl_->errorBuffer[0] = '\0';
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, impl_->errorBuffer);
    curl_easy_setopt(c, CURLOPT_URL, target.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));
    curl_easy_setopt(c, CURLOPT_USERAGENT, UserAgent.c_str());
    curl_slist* headers = nullptr;
    if (!AcceptLanguage.empty()) {
        headers = curl_slist_append(headers, ("Accept-Language: " + AcceptLanguage).c_str());
    }
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    if (ReadTimeout > 0)
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ReadTimeout));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);

    // An empty proxy string switches proxies off, environment variables included; an empty
    // no-proxy list makes the proxy apply to every host, whatever NO_PROXY says.
    if (ProxyServer.empty()) {
        curl_easy_setopt(c, CURLOPT_PROXY, "");
    } else {
        curl_easy_setopt(c, CURLOPT_PROXY, ProxyServer.c_str());
        curl_easy_setopt(c, CURLOPT_PROXYPORT, static_cast<long>(ProxyPort));
        curl_easy_setopt(c, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        curl_easy_setopt(c, CURLOPT_NOPROXY, "");
        if (!ProxyUsername.empty() || !ProxyPassword.empty()) {
            curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, ProxyUsername.c_str());
            curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, ProxyPassword.c_str());
            curl_easy_setopt(c, CURLOPT_PROXYAUTH,
                             ProxyBasicAuthentication ? CURLAUTH_BASIC : CURLAUTH_ANY);
        }
    }

    const CURLcode rc = curl_easy_perform(c);
    curl_slist_free_all(headers);

    const auto fail = [&](const std::string& cause) -> AnsiString {
        throw EHttpError("GET " + target + " failed: " + cause);
    };
    if (t.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
        return fail("the response body exceeds " + std::to_string(kMaxBodyBytes) + " bytes");
    }
    if (t.timedOut) {
        return fail("nothing received for " + std::to_string(ReadTimeout) + " ms");
    }
    if (rc != CURLE_OK) {
        std::string cause =
            impl_->errorBuffer[0] != '\0' ? impl_->errorBuffer : curl_easy_strerror(rc);
        if (!ProxyPassword.empty()) {
            for (size_t p; (p = cause.find(ProxyPassword)) != std::string::npos;) {
                cause.replace(p, ProxyPassword.size(), "***");
            }
        }
        return fail(cause);
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) return fail("HTTP status " + std::to_string(status));
    return std::move(t.body);
}
