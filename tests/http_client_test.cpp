#include "platform/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/exceptions.h"

namespace {

// A small server on 127.0.0.1 that records the requests it sees. It also serves as a proxy:
// a proxied request arrives with an absolute-form target.
class TestServer {
  public:
    TestServer() {
        server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex_);
                targets_.push_back(req.target);
                userAgent_ = req.get_header_value("User-Agent");
                acceptLanguage_ = req.get_header_value("Accept-Language");
                proxyAuth_ = req.get_header_value("Proxy-Authorization");
            }
            if (req.path.find("/status/") != std::string::npos) {
                res.status = std::stoi(req.path.substr(req.path.rfind('/') + 1));
                res.set_content("error page", "text/html");
            } else if (req.path.find("/slow") != std::string::npos) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2500));
                res.set_content("late", "text/plain");
            } else if (req.path.find("/big") != std::string::npos) {
                res.set_content(std::string(17 * 1024 * 1024, 'x'), "text/plain");
            } else if (req.path.find("/redirect") != std::string::npos) {
                res.set_redirect("/redirect");
            } else if (requireProxyAuth_ && req.get_header_value("Proxy-Authorization") !=
                                                "Basic dXNlcjpzM2NyZXQ=") {  // user:s3cret
                res.status = 407;
                res.set_header("Proxy-Authenticate", "Basic realm=\"test\"");
            } else {
                res.set_content("body of " + req.target, "text/html");
            }
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TestServer() {
        server_.stop();
        thread_.join();
    }
    int port() const { return port_; }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> Targets() {
        std::lock_guard lock(mutex_);
        return targets_;
    }
    std::string userAgent_, acceptLanguage_, proxyAuth_;
    bool requireProxyAuth_ = false;

  private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::vector<std::string> targets_;
};

// A loopback port that nobody listens on: bound once, then closed.
int ClosedPort() {
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

std::string FailureOf(THttpClient& client, const std::string& url) {
    try {
        client.Get(url);
    } catch (const EHttpError& e) {
        return e.what();
    }
    return "";
}

TEST(HttpClient, SendsHeadersAndReturnsTheBody) {
    TestServer server;
    THttpClient client;
    client.UserAgent = "Mozilla/3.0 (compatible;)";
    client.AcceptLanguage = "en-us";
    EXPECT_EQ(client.Get(server.Base() + "/search?q=a+b&o=10"), "body of /search?q=a+b&o=10");
    EXPECT_EQ(server.userAgent_, "Mozilla/3.0 (compatible;)");
    EXPECT_EQ(server.acceptLanguage_, "en-us");
    EXPECT_EQ(client.Get(server.Base() + "/second"), "body of /second");  // the handle is reused
}

TEST(HttpClient, EveryFailureRaisesWithUrlAndCause) {
    TestServer server;
    THttpClient client;
    std::string msg = FailureOf(client, server.Base() + "/status/500");
    EXPECT_NE(msg.find("/status/500"), std::string::npos) << msg;
    EXPECT_NE(msg.find("HTTP status 500"), std::string::npos) << msg;
    EXPECT_NE(FailureOf(client, server.Base() + "/status/404").find("404"), std::string::npos);
    EXPECT_NE(FailureOf(client, server.Base() + "/redirect").find("failed"), std::string::npos);
    msg = FailureOf(client, server.Base() + "/big");
    EXPECT_NE(msg.find("exceeds"), std::string::npos) << msg;
    // A port nobody listens on.
    const int closedPort = ClosedPort();
    msg = FailureOf(client, "http://127.0.0.1:" + std::to_string(closedPort) + "/x");
    EXPECT_NE(msg.find("127.0.0.1:" + std::to_string(closedPort)), std::string::npos) << msg;
    EXPECT_EQ(client.Get(server.Base() + "/after"), "body of /after");  // still usable
}

TEST(HttpClient, ReadTimeoutEndsASilentRequest) {
    TestServer server;
    THttpClient client;
    client.ReadTimeout = 500;
    const auto t0 = std::chrono::steady_clock::now();
    const std::string msg = FailureOf(client, server.Base() + "/slow");
    EXPECT_NE(msg.find("nothing received for 500 ms"), std::string::npos) << msg;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2400));
}

TEST(HttpClient, RefusesControlCharactersAndEncodesBlanks) {
    TestServer server;
    THttpClient client;
    EXPECT_NE(FailureOf(client, server.Base() + "/a\r\nX-Injected: 1").find("control character"),
              std::string::npos);
    EXPECT_NE(FailureOf(client, server.Base() + "/a\nb").find("control character"),
              std::string::npos);
    EXPECT_TRUE(server.Targets().empty());
    EXPECT_EQ(client.Get(server.Base() + "/a b\xE9"), "body of /a%20b%E9");
}

TEST(HttpClient, ProxyWithBasicAuthentication) {
    TestServer proxy;
    proxy.requireProxyAuth_ = true;
    THttpClient client;
    client.ProxyBasicAuthentication = true;
    client.ProxyServer = "127.0.0.1";
    client.ProxyPort = proxy.port();
    EXPECT_NE(FailureOf(client, "http://search.quillon.example/search?q=x").find("407"),
              std::string::npos);
    client.ProxyUsername = "user";
    client.ProxyPassword = "wrong-pass";
    const std::string msg = FailureOf(client, "http://search.quillon.example/search?q=x");
    EXPECT_NE(msg.find("407"), std::string::npos) << msg;
    EXPECT_EQ(msg.find("wrong-pass"), std::string::npos) << msg;
    client.ProxyPassword = "s3cret";
    EXPECT_EQ(client.Get("http://search.quillon.example/search?q=x"),
              "body of http://search.quillon.example/search?q=x");
    EXPECT_EQ(proxy.proxyAuth_, "Basic dXNlcjpzM2NyZXQ=");
}

TEST(HttpClient, ProxyFromTheEnvironmentIsIgnored) {
    TestServer server;
    TestServer envProxy;
    const std::string envUrl = envProxy.Base();
    ::setenv("http_proxy", envUrl.c_str(), 1);
    ::setenv("HTTP_PROXY", envUrl.c_str(), 1);
    ::setenv("NO_PROXY", "search.quillon.example", 1);
    THttpClient direct;
    EXPECT_EQ(direct.Get(server.Base() + "/direct"), "body of /direct");
    EXPECT_TRUE(envProxy.Targets().empty());
    // With a proxy configured, NO_PROXY does not bypass it.
    THttpClient proxied;
    proxied.ProxyServer = "127.0.0.1";
    proxied.ProxyPort = server.port();
    EXPECT_EQ(proxied.Get("http://search.quillon.example/p"),
              "body of http://search.quillon.example/p");
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
    ::unsetenv("NO_PROXY");
    EXPECT_TRUE(envProxy.Targets().empty());
}

}  // namespace
