#include "host/gateway/upstream.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <utility>

namespace rankcheck::gateway {

namespace {

constexpr std::array<std::pair<const char*, UpstreamKind>, 4> kSchemes{{
    {"http", UpstreamKind::Http},
    {"https", UpstreamKind::Https},
    {"socks5", UpstreamKind::Socks5},
    {"socks5h", UpstreamKind::Socks5h},
}};

const char* SchemeOf(UpstreamKind kind) {
    for (const auto& [scheme, k] : kSchemes)
        if (k == kind) return scheme;
    return "";
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%40" -> "@"; `what` names the part in an error (the text itself is never quoted: it may be
// the password).
std::string PercentDecoded(const std::string& text, const char* what) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (high < 0 || low < 0)
            throw UpstreamError(std::string("the ") + what +
                                " holds a \"%\" that is not followed by two hex digits "
                                "(write a \"%\" itself as %25)");
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

// "host:port" or "[v6]:port" after the credentials; sets host and port.
void ParseHostPort(const std::string& text, Upstream& upstream) {
    std::string rest = text;
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.find('/') != std::string::npos || rest.find('?') != std::string::npos)
        throw UpstreamError("a proxy is host:port, without a path");
    size_t colon;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) throw UpstreamError("an IPv6 address lacks its \"]\"");
        upstream.host = rest.substr(0, close + 1);
        colon = close + 1;
        if (colon >= rest.size() || rest[colon] != ':')
            throw UpstreamError("no port after the IPv6 address");
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) throw UpstreamError("no port: write host:port");
        upstream.host = rest.substr(0, colon);
    }
    if (upstream.host.empty() || upstream.host == "[]")
        throw UpstreamError("no host before the port");
    // No part of a faulty line is quoted: with an "@" forgotten, host or port may be the password.
    if (upstream.host.find_first_of(" \t@:") != std::string::npos && upstream.host.front() != '[')
        throw UpstreamError("the host name holds a blank, \"@\" or \":\"");
    const std::string port = rest.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }) ||
        std::stoi(port) < 1 || std::stoi(port) > 65535)
        throw UpstreamError("the port is not a number from 1 to 65535");
    upstream.port = std::stoi(port);
}

}  // namespace

std::string Upstream::ProxyUrl() const {
    if (!IsProxy()) return "";
    return std::string(SchemeOf(kind)) + "://" + host + ":" + std::to_string(port);
}

bool Upstream::SameAs(const Upstream& other) const {
    return kind == other.kind && Lower(host) == Lower(other.host) && port == other.port &&
           user == other.user;
}

Upstream ParseUpstream(const std::string& text) {
    const std::string line = Trimmed(text);
    Upstream upstream;
    if (Lower(line) == "direct") return upstream;
    const size_t sep = line.find("://");
    if (sep == std::string::npos)
        throw UpstreamError("expected \"direct\" or a proxy URL such as http://host:port");
    const std::string scheme = Lower(line.substr(0, sep));
    const auto known = std::find_if(kSchemes.begin(), kSchemes.end(),
                                    [&](const auto& entry) { return scheme == entry.first; });
    if (known == kSchemes.end()) {
        const bool plain =
            scheme.size() <= 10 && std::all_of(scheme.begin(), scheme.end(),
                                               [](unsigned char c) { return std::isalnum(c); });
        throw UpstreamError("unknown scheme" + (plain ? " \"" + scheme + "\"" : std::string()) +
                            " (use direct, http://, https://, socks5:// or socks5h://)");
    }
    upstream.kind = known->second;
    std::string rest = line.substr(sep + 3);
    // The credentials end at the last "@" before the host: a password may hold an "@" of its
    // own. A "/" after the port is not part of them.
    const size_t at =
        rest.rfind('@', rest.find('/') == std::string::npos ? std::string::npos : rest.find('/'));
    if (at != std::string::npos) {
        const std::string credentials = rest.substr(0, at);
        const size_t colon = credentials.find(':');
        upstream.user = PercentDecoded(credentials.substr(0, colon), "user name");
        if (colon != std::string::npos)
            upstream.password = PercentDecoded(credentials.substr(colon + 1), "password");
        if (upstream.user.empty()) throw UpstreamError("a password without a user name");
        rest = rest.substr(at + 1);
    }
    ParseHostPort(rest, upstream);
    upstream.label = upstream.host + ":" + std::to_string(upstream.port);
    return upstream;
}

void LabelUpstreams(std::vector<Upstream>& upstreams) {
    std::map<std::string, int> seen;
    for (Upstream& upstream : upstreams) {
        if (!upstream.IsProxy()) {
            upstream.label = "direct";
            continue;
        }
        const std::string base = Lower(upstream.host) + ":" + std::to_string(upstream.port);
        const int n = ++seen[base];
        // Built by appending: g++ 12 at -O3 warns (-Wrestrict) on the chained operator+ form.
        std::string label = upstream.host;
        label += ':';
        label += std::to_string(upstream.port);
        if (n > 1) {
            label += '#';
            label += std::to_string(n);
        }
        upstream.label = std::move(label);
    }
}

Upstream UpstreamFromProxySettings(const jobfiles::ProxySettings& settings) {
    Upstream upstream;
    if (!settings.useProxy) return upstream;
    upstream.kind = UpstreamKind::Http;
    upstream.host = settings.host;
    upstream.port = settings.port;
    if (settings.credentials) {
        upstream.user = settings.user;
        upstream.password = settings.password;
    }
    upstream.label = upstream.host + ":" + std::to_string(upstream.port);
    return upstream;
}

jobfiles::ProxySettings GatewayProxySettings(const std::string& host, int port) {
    jobfiles::ProxySettings settings;
    settings.useProxy = true;
    settings.host = host;
    settings.port = port;
    return settings;
}

}  // namespace rankcheck::gateway
