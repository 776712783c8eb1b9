// Network helpers for tests: a free loopback port, whether something listens on one, a raw
// request whose status line is read back, and tinyproxy from Debian as a real proxy with basic
// authentication in front of a given upstream proxy. Test (main) thread only.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/test_support.h"

namespace testsupport {

// A port that was free a moment ago (bound, read back and released).
inline int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

inline int ConnectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    ::close(fd);
    return -1;
}

inline bool CanConnect(int port) {
    const int fd = ConnectLoopback(port);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

// Sends `request` as it is to 127.0.0.1:port and returns the first line of the answer (without
// its CR LF), or "" when none came within 5 s.
inline std::string StatusLineOf(int port, const std::string& request) {
    const int fd = ConnectLoopback(port);
    if (fd < 0) return "";
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[512];
    while (answer.find("\r\n") == std::string::npos) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return answer.substr(0, answer.find("\r\n"));
}

// tinyproxy listening on a free loopback port, asking for basic authentication (`user`,
// `password`) and sending everything on through the proxy at 127.0.0.1:upstreamPort. Its
// configuration and log are written in the current directory. Started() is false when tinyproxy
// is not installed or did not come up (the caller skips its test then; Problem() says why).
class Tinyproxy {
  public:
    Tinyproxy(int upstreamPort, const std::string& user, const std::string& password) {
        const char* binary = "/usr/bin/tinyproxy";
        if (::access(binary, X_OK) != 0) {
            problem_ = "tinyproxy is not installed (apt-get install tinyproxy)";
            return;
        }
        for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
            port_ = FreePort();
            WriteFile("tinyproxy.conf", "Port " + std::to_string(port_) +
                                            "\nListen 127.0.0.1\nTimeout 30\nMaxClients 10\n"
                                            "LogLevel Warning\nBasicAuth " +
                                            user + " " + password + "\nUpstream http 127.0.0.1:" +
                                            std::to_string(upstreamPort) +
                                            "\nDisableViaHeader Yes\n");
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::freopen("tinyproxy.log", "w", stderr);
                ::execl(binary, binary, "-d", "-c", "tinyproxy.conf", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (!CanConnect(port_) && std::chrono::steady_clock::now() < deadline &&
                   ::waitpid(pid, nullptr, WNOHANG) == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (CanConnect(port_)) {
                pid_ = pid;
            } else {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        }
        if (pid_ <= 0) problem_ = "tinyproxy did not start: " + ReadFile("tinyproxy.log");
    }
    ~Tinyproxy() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    bool Started() const { return pid_ > 0; }
    const std::string& Problem() const { return problem_; }
    int Port() const { return port_; }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string problem_;
};

}  // namespace testsupport
