#include "host/gateway/listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

namespace rankcheck::gateway {

namespace {

constexpr int kStopCheckMs = 50;  // how often a waiting connection looks whether to stop

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

// One connection's socket as the library reads and writes it. Reads are buffered (the library
// reads a request's head a byte at a time). Both read and write try the socket first and wait
// for it only when it is not ready: a wait is a system call of its own, and a page through the
// gateway should cost as few of them as can be. A small write (an answer's head) is held back
// and goes out with the next write (its body) in one call, or at Flush.
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
            ssize_t n = Recv();
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!WaitFor(sock_, POLLIN, readTimeoutMs_)) return -1;
                n = Recv();
            }
            if (n <= 0) return n;
            begin_ = 0;
            end_ = static_cast<size_t>(n);
        }
        const size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    // Returns how much of `ptr` was taken (the library calls again for the rest), or -1.
    ssize_t write(const char* ptr, size_t size) override {
        if (held_.empty() && size <= kHoldBytes) {
            held_.assign(ptr, size);
            return static_cast<ssize_t>(size);
        }
        iovec parts[2] = {{held_.data(), held_.size()}, {const_cast<char*>(ptr), size}};
        const ssize_t n = Send(held_.empty() ? parts + 1 : parts, held_.empty() ? 1 : 2);
        if (n < 0) return -1;
        const size_t fromHeld = std::min(held_.size(), static_cast<size_t>(n));
        held_.erase(0, fromHeld);
        return n - static_cast<ssize_t>(fromHeld);
    }

    // Sends what is held back; false when the connection is gone.
    bool Flush() {
        while (!held_.empty()) {
            iovec part{held_.data(), held_.size()};
            const ssize_t n = Send(&part, 1);
            if (n < 0) return false;
            held_.erase(0, static_cast<size_t>(n));
        }
        return true;
    }

    // Asked for every request; the same for the whole connection, so looked up once.
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        if (remotePort_ < 0) {
            sockaddr_storage addr{};
            socklen_t len = sizeof addr;
            remotePort_ = 0;
            if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
                Address(addr, remoteIp_, remotePort_);
        }
        ip = remoteIp_;
        port = remotePort_;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        if (localPort_ < 0) {
            sockaddr_storage addr{};
            socklen_t len = sizeof addr;
            localPort_ = 0;
            if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
                Address(addr, localIp_, localPort_);
        }
        ip = localIp_;
        port = localPort_;
    }
    socket_t socket() const override { return sock_; }

  private:
    static constexpr size_t kHoldBytes = 2048;

    ssize_t Recv() {
        ssize_t n;
        do {
            n = ::recv(sock_, buffer_, sizeof buffer_, MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    // One sendmsg of `count` parts; waits for the socket (up to the write time-out) only when
    // it is full.
    ssize_t Send(iovec* parts, size_t count) {
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = count;
        for (;;) {
            const ssize_t n = ::sendmsg(sock_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !is_writable()) return -1;
        }
    }

    socket_t sock_;
    int readTimeoutMs_;
    int writeTimeoutMs_;
    char buffer_[4096];
    size_t begin_ = 0, end_ = 0;  // the unread part of buffer_
    std::string held_;            // a small write not sent yet
    mutable std::string remoteIp_, localIp_;
    mutable int remotePort_ = -1, localPort_ = -1;  // -1: not looked up yet
};

int Milliseconds(time_t sec, time_t usec) {
    return static_cast<int>(sec * 1000 + usec / 1000);
}

// The connection whose request this thread's handler answers.
thread_local SocketStream* tServing = nullptr;

}  // namespace

bool Listener::SendInterim() {
    static constexpr char kInterim[] = "HTTP/1.1 102 Processing\r\n\r\n";
    if (tServing == nullptr || !tServing->Flush()) return false;
    // Held back as any small write is, then sent at once.
    const size_t length = sizeof kInterim - 1;
    if (tServing->write(kInterim, length) != static_cast<ssize_t>(length)) return false;
    return tServing->Flush();
}

bool Listener::WaitForRequest(socket_t sock) const {
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

bool Listener::process_and_close_socket(socket_t sock) {
    SocketStream stream(sock, Milliseconds(read_timeout_sec_, read_timeout_usec_),
                        Milliseconds(write_timeout_sec_, write_timeout_usec_));
    bool served = false;
    tServing = &stream;
    for (size_t left = keep_alive_max_count_; left > 0 && WaitForRequest(sock); --left) {
        // The last request the count allows is answered with "Connection: close".
        bool closed = false;
        served = process_request(stream, left == 1, closed, nullptr);
        if (!stream.Flush() || !served || closed) break;
    }
    tServing = nullptr;
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
}

}  // namespace rankcheck::gateway
