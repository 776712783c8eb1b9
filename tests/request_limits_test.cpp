// THttpClient's bounds on a request as a whole, against engine-sim's dripping pages (a proxy
// that announces a large page and trickles it): a page not complete within the total limit, or
// coming slower than the low-speed floor, fails naming that limit; the caller's abort hook ends a
// request at once. The limits are set small here; the plug-ins keep the defaults.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "platform/exceptions.h"
#include "platform/http_client.h"
#include "tools/engine-sim/engine_sim.h"

namespace {

using Clock = std::chrono::steady_clock;
using enginesim::Engine;
using enginesim::FaultKind;

class RequestLimits : public ::testing::Test {
  protected:
    RequestLimits() : sim_(Dripping()) {
        sim_.Start();
        client_.ProxyServer = "127.0.0.1";
        client_.ProxyPort = sim_.Port();
    }

    // "trickle": 20 bytes a second of an announced 1,000,000; "steady": a page padded to 30,000
    // bytes at 400,000 bytes a second; "plain": an ordinary page.
    static enginesim::Scenario Dripping() {
        enginesim::Scenario scenario;
        scenario.Setup("trickle", Engine::Quillon).faults = {
            {.kind = FaultKind::Drip, .bytesPerSecond = 20}};
        scenario.Setup("steady", Engine::Quillon).faults = {
            {.kind = FaultKind::Drip, .bytesPerSecond = 400000, .contentLength = 30000}};
        return scenario;
    }
    static std::string Url(const std::string& keyword) {
        return "http://search.quillon.example/search?cat=web&cs=utf-8&l=any&q=" + keyword;
    }
    // The message of the EHttpError that Get raises, and how long Get took.
    std::string Failure(const std::string& keyword) {
        const auto t0 = Clock::now();
        try {
            client_.Get(Url(keyword));
        } catch (const EHttpError& e) {
            took_ = Clock::now() - t0;
            return e.what();
        }
        took_ = Clock::now() - t0;
        return "";
    }

    enginesim::EngineSim sim_;
    THttpClient client_;
    Clock::duration took_{};
};

TEST_F(RequestLimits, APageNotCompleteWithinTheTotalLimitFails) {
    client_.TotalTimeout = 800;
    client_.LowSpeedLimit = 0;
    const std::string failure = Failure("trickle");
    EXPECT_NE(failure.find("not complete within 800 ms"), std::string::npos) << failure;
    EXPECT_NE(failure.find(Url("trickle")), std::string::npos) << failure;
    EXPECT_LT(took_, std::chrono::seconds(5));
}

TEST_F(RequestLimits, APageBelowTheLowSpeedFloorFails) {
    client_.TotalTimeout = 0;
    client_.LowSpeedLimit = 1000;
    client_.LowSpeedTime = 1;
    // Over the connection that an ordinary page has just used, as a job's pages go.
    EXPECT_NE(client_.Get(Url("plain")).find("resURL"), std::string::npos);
    const std::string failure = Failure("trickle");
    EXPECT_NE(failure.find("slower than 1000 bytes/s for 1 s"), std::string::npos) << failure;
    EXPECT_LT(took_, std::chrono::seconds(10));
}

TEST_F(RequestLimits, APageAboveTheFloorAndWithinTheLimitComesWhole) {
    client_.TotalTimeout = 10000;
    client_.LowSpeedLimit = 1000;
    client_.LowSpeedTime = 1;
    EXPECT_GE(client_.Get(Url("steady")).size(), 30000u);
}

TEST_F(RequestLimits, TheAbortHookEndsARequestAtOnce) {
    // Asked while the page trickles; it says yes from a moment on, or by raising.
    std::atomic<int> asked{0};
    const auto yesAfter = Clock::now() + std::chrono::milliseconds(300);
    client_.AbortRequested = [&] {
        ++asked;
        return Clock::now() >= yesAfter;
    };
    std::string failure = Failure("trickle");
    EXPECT_NE(failure.find("abandoned"), std::string::npos) << failure;
    EXPECT_LT(took_, std::chrono::seconds(3));
    EXPECT_GT(asked.load(), 1);
    try {
        client_.Get(Url("trickle"));
        ADD_FAILURE() << "the request was not abandoned";
    } catch (const EHttpAborted&) {
    }

    client_.AbortRequested = []() -> bool { throw std::runtime_error("hook failed"); };
    failure = Failure("trickle");
    EXPECT_NE(failure.find("abandoned"), std::string::npos) << failure;

    // A hook that says no leaves requests alone.
    client_.AbortRequested = [] { return false; };
    EXPECT_NE(client_.Get(Url("plain")).find("resURL"), std::string::npos);
}

}  // namespace
