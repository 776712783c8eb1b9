#include "tools/engine-sim/prompt_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace enginesim {

namespace {

// How often a waiting connection looks whether the server is stopping.
constexpr int kStopCheckMs = 50;

// Set by DropConnection on the worker thread that serves the connection (the handler runs on
// it): every write of the answer fails instead of sending, and the connection closes.
thread_local bool dropConnection = false;

int Milliseconds(time_t sec, time_t usec) {
    return static_cast<int>(sec * 1000 + usec / 1000);
}

// Waits for `events` on `sock` for up to `ms`; true when they came (or the peer hung up).
bool WaitFor(socket_t sock, short events, int ms) {
    pollfd p{sock, events, 0};
    for (;;) {
        const int n = ::poll(&p, 1, ms);
        if (n >= 0) return n > 0;
        if (errno != EINTR) return false;
    }
}

void Address(const sockaddr_storage& addr, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (addr.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(addr);
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        port = ntohs(in.sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(addr);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        port = ntohs(in6.sin6_port);
    }
    ip = text;
}

// One connection's socket as the library's request handling reads and writes it. Reads are
// buffered: the library reads a request's head one byte at a time.
class SocketStream final : public httplib::Stream {
  public:
    SocketStream(socket_t sock, int readTimeoutMs, int writeTimeoutMs)
        : sock_(sock), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

    bool is_readable() const override {
        return begin_ < end_ || WaitFor(sock_, POLLIN, readTimeoutMs_);
    }
    bool is_writable() const override { return WaitFor(sock_, POLLOUT, writeTimeoutMs_); }

    ssize_t read(char* ptr, size_t size) override {
        if (begin_ == end_) {
            if (!WaitFor(sock_, POLLIN, readTimeoutMs_)) return -1;
            ssize_t n;
            do {
                n = ::recv(sock_, buffer_, sizeof buffer_, 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0) return n;
            begin_ = 0;
            end_ = static_cast<size_t>(n);
        }
        const size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (dropConnection || !is_writable()) return -1;
        ssize_t n;
        do {
            n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            Address(addr, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            Address(addr, ip, port);
    }
    socket_t socket() const override { return sock_; }

  private:
    socket_t sock_;
    int readTimeoutMs_;
    int writeTimeoutMs_;
    char buffer_[4096];
    size_t begin_ = 0, end_ = 0;  // the unread part of buffer_
};

}  // namespace

void PromptServer::DropConnection() {
    dropConnection = true;
}

bool PromptServer::WaitForRequest(socket_t sock) const {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (svr_sock_ != INVALID_SOCKET) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left < 0) return false;
        pollfd p{sock, POLLIN, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, kStopCheckMs)));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
    return false;
}

bool PromptServer::process_and_close_socket(socket_t sock) {
    SocketStream stream(sock, Milliseconds(read_timeout_sec_, read_timeout_usec_),
                        Milliseconds(write_timeout_sec_, write_timeout_usec_));
    bool served = false;
    for (size_t left = keep_alive_max_count_; left > 0 && WaitForRequest(sock); --left) {
        // The last request the count allows is answered with "Connection: close".
        bool closed = false;
        served = process_request(stream, left == 1, closed, nullptr);
        if (!served || closed || dropConnection) break;
    }
    dropConnection = false;
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
}

}  // namespace enginesim
