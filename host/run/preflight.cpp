#include "host/run/preflight.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>

#include "jobfiles/engine_table.h"

namespace rankcheck {

std::string Endpoint::Text() const {
    // A user name and password written before the host (user:password@host) are never shown.
    const size_t at = host.rfind('@');
    const std::string shown =
        at == std::string::npos ? host : "(user and password hidden)@" + host.substr(at + 1);
    return (shown.find(':') != std::string::npos ? "[" + shown + "]" : shown) + ":" +
           std::to_string(port);
}

namespace {

// One connect attempt to `address` within the time that is left; errno-style text on failure.
std::optional<std::string> ConnectOnce(const addrinfo& address, int timeoutMs) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address.ai_protocol);
    if (fd < 0) return std::string(std::strerror(errno));
    std::optional<std::string> failure;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            failure = std::strerror(errno);
        } else {
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, timeoutMs);
            if (ready == 0) {
                failure = "no answer within " + std::to_string(timeoutMs / 1000) + " s";
            } else if (ready < 0) {
                failure = std::strerror(errno);
            } else {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error != 0) failure = std::strerror(error);
            }
        }
    }
    ::close(fd);
    return failure;
}

}  // namespace

std::optional<std::string> Unreachable(const Endpoint& endpoint, int timeoutMs) {
    if (endpoint.port <= 0 || endpoint.port > 65535) {
        return "the port " + std::to_string(endpoint.port) + " is not a TCP port (1 to 65535)";
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc =
        ::getaddrinfo(endpoint.host.c_str(), std::to_string(endpoint.port).c_str(), &hints, &found);
    if (rc != 0) return "host not found (" + std::string(::gai_strerror(rc)) + ")";
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::optional<std::string> failure = "no address";
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        failure = ConnectOnce(*a, static_cast<int>(left));
        if (!failure) return std::nullopt;
    }
    // strerror says "Connection refused"; in a sentence it reads better in lower case.
    if (failure && !failure->empty())
        (*failure)[0] = static_cast<char>(std::tolower((*failure)[0]));
    return failure;
}

std::vector<std::optional<std::string>> UnreachableEach(const std::vector<Endpoint>& endpoints,
                                                        int timeoutMs) {
    std::vector<std::future<std::optional<std::string>>> tries;
    tries.reserve(endpoints.size());
    for (const Endpoint& endpoint : endpoints)
        tries.push_back(std::async(std::launch::async, Unreachable, endpoint, timeoutMs));
    std::vector<std::optional<std::string>> failures;
    for (auto& t : tries)
        failures.push_back(t.get());
    return failures;
}

std::optional<Endpoint> FirstHop(const jobfiles::ProxySettings& proxy, const std::string& engine) {
    if (proxy.useProxy) return Endpoint{proxy.host, proxy.port, "the proxy of proxy.def"};
    const jobfiles::EngineInfo* known = jobfiles::FindEngine(engine);
    if (known == nullptr || engine != known->name) return std::nullopt;
    return Endpoint{known->host, 80, engine + "'s search host"};
}

}  // namespace rankcheck
