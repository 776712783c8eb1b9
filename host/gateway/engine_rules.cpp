#include "host/gateway/engine_rules.h"

#include <strings.h>

#include <algorithm>

namespace rankcheck::gateway {

namespace {

bool SameHost(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// "http://Host:80/path?q" -> host "Host", path "/path"; a relative Location keeps `host`.
void SplitLocation(const std::string& location, const std::string& host, std::string& toHost,
                   std::string& toPath) {
    toHost = host;
    std::string rest = location;
    const size_t scheme = rest.find("://");
    if (scheme != std::string::npos && scheme < rest.find_first_of("/?")) {
        rest = rest.substr(scheme + 3);
        const size_t slash = rest.find_first_of("/?");
        toHost = rest.substr(0, slash);
        toHost = toHost.substr(0, toHost.find(':'));
        rest = slash == std::string::npos ? "/" : rest.substr(slash);
    } else if (rest.rfind("//", 0) == 0) {
        SplitLocation("http:" + rest, host, toHost, toPath);
        return;
    }
    toPath = rest.substr(0, rest.find_first_of("?#"));
    // The engines' result pages stand at the root: a relative Location is taken from there.
    if (toPath.empty() || toPath.front() != '/') toPath.insert(0, "/");
}

}  // namespace

std::vector<EngineRules> DefaultEngineRules() {
    return {
        {"Quillon",
         "search.quillon.example",
         {"/search"},
         {{"captcha page", "<form id=\"captcha-form\""},
          {"consent wall", "<form id=\"consent-form\""}}},
        {"Verrin",
         "search.verrin.example",
         {"/results.asp"},
         {{"captcha page", "<div id=\"verrin-challenge\""},
          {"consent wall", "<div id=\"verrin-consent\""}}},
    };
}

std::string StatusWords(long status) {
    static const std::pair<long, const char*> kWords[] = {
        {301, "moved permanently"},
        {302, "found"},
        {303, "see other"},
        {307, "temporary redirect"},
        {308, "permanent redirect"},
        {400, "bad request"},
        {401, "unauthorized"},
        {403, "forbidden"},
        {404, "not found"},
        {405, "method not allowed"},
        {407, "proxy authentication required"},
        {408, "request timeout"},
        {410, "gone"},
        {429, "too many requests"},
        {451, "unavailable for legal reasons"},
        {500, "internal server error"},
        {502, "bad gateway"},
        {503, "service unavailable"},
        {504, "gateway timeout"},
    };
    std::string text = "HTTP " + std::to_string(status);
    for (const auto& [code, words] : kWords)
        if (code == status) return text + " (" + words + ")";
    return text;
}

Verdict Classify(const EngineRules* rules, long status, const std::string& location,
                 const std::string& body) {
    if (status == 403 || status == 429 || status == 503)
        return {BlockKind::Status, StatusWords(status)};
    if (rules == nullptr) return {};
    if (status >= 300 && status < 400 && !location.empty()) {
        std::string host, path;
        SplitLocation(location, rules->host, host, path);
        const bool toResults =
            SameHost(host, rules->host) &&
            std::any_of(rules->resultPaths.begin(), rules->resultPaths.end(),
                        [&](const std::string& prefix) { return path.rfind(prefix, 0) == 0; });
        if (!toResults) return {BlockKind::Redirect, "redirect to http://" + host + path};
        return {};
    }
    if (status == 200) {
        for (const BlockPattern& pattern : rules->blockPatterns)
            if (!pattern.text.empty() && body.find(pattern.text) != std::string::npos)
                return {BlockKind::Pattern, pattern.what};
    }
    return {};
}

const EngineRules* RulesForHost(const std::vector<EngineRules>& engines, const std::string& host) {
    const std::string bare = host.substr(0, host.find(':'));
    for (const EngineRules& rules : engines)
        if (SameHost(bare, rules.host)) return &rules;
    return nullptr;
}

}  // namespace rankcheck::gateway
