#include "host/gateway/suspensions.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace rankcheck::gateway {

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

std::string IsoUtc(SystemTime t) {
    // Rounded up, so that a suspension read back never ends before it did.
    const auto ms = std::chrono::duration_cast<milliseconds>(t.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>((ms + 999) / 1000);
    std::tm tm{};
    ::gmtime_r(&secs, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::optional<SystemTime> ParseIsoUtc(const std::string& text) {
    std::tm tm{};
    const char* end = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
    if (end == nullptr || *end != '\0') return std::nullopt;
    return std::chrono::system_clock::from_time_t(::timegm(&tm));
}

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    throw StateFileError("the gateway's state file " + path + " " + what);
}

}  // namespace

Suspension Suspend(const BlockPolicy& policy, long status, std::optional<seconds> retryAfter,
                   const Suspension& previous, SystemTime now) {
    milliseconds base = policy.blocked;
    if (status == 429 || status == 503)
        base = retryAfter ? milliseconds(*retryAfter) : policy.rateLimited;
    Suspension next;
    next.strikes = (StillCounts(previous, policy, now) ? previous.strikes : 0) + 1;
    milliseconds length = base;
    for (int i = 1; i < next.strikes && length < policy.longest; ++i)
        length *= 2;
    next.until = now + std::min(length, std::max(base, policy.longest));
    return next;
}

std::optional<seconds> ParseRetryAfter(const std::string& value, SystemTime now) {
    const size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    const std::string text = value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
    if (std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        if (text.size() > 9) return seconds(999999999);
        return seconds(std::stol(text));
    }
    const time_t date = curl_getdate(text.c_str(), nullptr);
    if (date < 0) return std::nullopt;
    const auto delay = std::chrono::system_clock::from_time_t(date) - now;
    return std::max(seconds(0), std::chrono::ceil<seconds>(delay));
}

bool StillCounts(const Suspension& suspension, const BlockPolicy& policy, SystemTime now) {
    return suspension.strikes > 0 && now < suspension.until + policy.longest;
}

std::map<std::string, Suspension> LoadSuspensions(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return {};
        Fail(path, std::string("cannot be read: ") + std::strerror(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::map<std::string, Suspension> all;
    try {
        const nlohmann::json j = nlohmann::json::parse(text.str());
        if (!j.is_object() || j.value("version", 0) != 1 || !j.contains("upstreams") ||
            !j["upstreams"].is_object())
            Fail(path, "is not a state file of this version");
        for (const auto& [label, entry] : j["upstreams"].items()) {
            const auto until = ParseIsoUtc(entry.at("until").get<std::string>());
            if (!until) Fail(path, "has a time that is not ISO 8601 UTC for " + label);
            all[label] = {*until, entry.value("strikes", 1), entry.value("cause", std::string())};
        }
    } catch (const nlohmann::json::exception& e) {
        Fail(path, std::string("is damaged: ") + e.what());
    }
    return all;
}

void SaveSuspensions(const std::string& path, const std::map<std::string, Suspension>& all) {
    nlohmann::json upstreams = nlohmann::json::object();
    for (const auto& [label, s] : all)
        upstreams[label] = {{"until", IsoUtc(s.until)}, {"strikes", s.strikes}, {"cause", s.cause}};
    const std::string text = nlohmann::json{{"version", 1}, {"upstreams", upstreams}}.dump(
                                 2, ' ', false, nlohmann::json::error_handler_t::replace) +
                             "\n";

    static std::atomic<unsigned> serial{0};
    const std::string temp =
        path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial.fetch_add(1));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Fail(path, std::string("cannot be written: ") + std::strerror(errno));
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const int err = errno;
    const bool written = done == text.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        const int cause = written ? errno : err;
        ::unlink(temp.c_str());
        Fail(path, std::string("cannot be written: ") + std::strerror(cause));
    }
}

}  // namespace rankcheck::gateway
