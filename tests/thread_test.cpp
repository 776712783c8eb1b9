#include "platform/thread.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "hostkit/host_bridge.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "plugin/host_list_target.h"

namespace {

// A worker that posts `lines` status lines through Synchronize and counts its runs.
class Worker : public TThread {
  public:
    Worker(hostkit::HostBridge& bridge, int lines)
        : TThread(&target_), target_(bridge.Control()), lines_(lines) {}
    ~Worker() override { WaitFor(); }

    std::atomic<int> runs{0};
    std::atomic<bool> done{false};  // the last step of Execute
    std::thread::id ranOn;
    std::thread::id insertedOn;
    int niceSeen = 0;
    long slackSeen = 0;
    bool errorCameBack = false;

  protected:
    void Execute() override {
        ++runs;
        ranOn = std::this_thread::get_id();
        niceSeen = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
        slackSeen = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        for (int i = 0; i < lines_; ++i) {
            const std::string line = "line " + std::to_string(i);
            Synchronize([&] {
                insertedOn = std::this_thread::get_id();
                target_.InsertLine(line);
            });
        }
        try {
            Synchronize([] { throw Exception("boom"); });
        } catch (const Exception& e) {
            errorCameBack = std::string(e.what()) == "boom";
        }
        done = true;
    }

  private:
    THostListTarget target_;
    int lines_;
};

TEST(Thread, RunsOnceOnItsOwnThreadAndSynchronizesOnTheMain) {
    const long mainSlack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    hostkit::HostBridge bridge;
    Worker w(bridge, 3);
    w.SetPriority(TThreadPriority::tpLowest);
    Sleep(20);
    EXPECT_EQ(w.runs.load(), 0);  // created suspended
    w.Resume();
    w.Resume();
    while (!w.done)
        bridge.Pump(10);
    EXPECT_EQ(w.runs.load(), 1);
    EXPECT_NE(w.ranOn, std::this_thread::get_id());
    // The worker runs at the lowered priority, with timers that end on time; the host's thread
    // keeps its own settings.
    EXPECT_GE(w.niceSeen, 10);
    EXPECT_EQ(w.slackSeen, static_cast<long>(TThread::kTimerSlackNs));
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), mainSlack);
    EXPECT_EQ(w.insertedOn, std::this_thread::get_id());
    EXPECT_EQ(bridge.Lines(), (std::vector<std::string>{"line 2", "line 1", "line 0"}));
    EXPECT_EQ(bridge.WrongThreadInserts(), 0);
    EXPECT_TRUE(w.errorCameBack);
}

TEST(Thread, DestructorWaitsWhileServicingSynchronize) {
    hostkit::HostBridge bridge;
    auto w = std::make_unique<Worker>(bridge, 50);
    w->Resume();
    w.reset();  // blocks until the worker has posted all its lines, without a deadlock
    EXPECT_EQ(bridge.Lines().size(), 50u);
}

TEST(Thread, SeveralThreadsHandOverAtOnce) {
    hostkit::HostBridge bridge;
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < 4; ++i) {
        workers.push_back(std::make_unique<Worker>(bridge, 300));
        workers.back()->Resume();
    }
    // A lost wake-up would leave a worker blocked in Synchronize for good.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const auto allEnded = [&] {
        for (const auto& w : workers)
            if (!w->done) return false;
        return true;
    };
    while (!allEnded() && std::chrono::steady_clock::now() < deadline)
        bridge.Pump(10);
    ASSERT_TRUE(allEnded());
    ASSERT_EQ(bridge.Lines().size(), 1200u);
    std::map<std::string, int> seen;
    for (const auto& line : bridge.Lines())
        ++seen[line];
    EXPECT_EQ(seen.size(), 300u);
    for (const auto& [line, count] : seen)
        EXPECT_EQ(count, 4) << line;
    EXPECT_EQ(bridge.WrongThreadInserts(), 0);
    for (const auto& w : workers)
        EXPECT_TRUE(w->errorCameBack);
}

TEST(Thread, NeverResumedThreadIsDestroyedAtOnce) {
    hostkit::HostBridge bridge;
    auto w = std::make_unique<Worker>(bridge, 1);
    w.reset();
    EXPECT_TRUE(bridge.Lines().empty());
}

// A thread the system cannot start: Resume raises EThread and the object stays never-started,
// so it is destroyed at once and a later Resume starts it after all.
TEST(Thread, StartThatFailsLeavesTheThreadUnstarted) {
    class Unstartable : public Worker {
      public:
        using Worker::Worker;
        bool fail = true;

      protected:
        std::thread StartThread(std::function<void()> body) override {
            if (fail)
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            return Worker::StartThread(std::move(body));
        }
    };
    hostkit::HostBridge bridge;
    auto w = std::make_unique<Unstartable>(bridge, 1);
    try {
        w->Resume();
        ADD_FAILURE() << "Resume did not raise";
    } catch (const EThread& e) {
        EXPECT_EQ(std::string(e.what()), "cannot start a thread: Resource temporarily unavailable");
    }
    w->WaitFor();  // returns at once: nothing runs
    EXPECT_EQ(w->runs.load(), 0);
    w->fail = false;
    w->Resume();
    w->WaitFor();
    EXPECT_EQ(w->runs.load(), 1);
    EXPECT_EQ(bridge.Lines(), std::vector<std::string>{"line 0"});
    w = std::make_unique<Unstartable>(bridge, 1);
    EXPECT_THROW(w->Resume(), EThread);
    w.reset();  // destroyed at once
}

// A host control without some of its functions: the target raises (or declines to run requests
// from a wait) instead of calling through a null pointer, and a thread on it still ends.
TEST(HostListTargetTest, MissingHostFunctionsRaiseInsteadOfCrashing) {
    HostListControl bare{};
    bare.version = HOST_LIST_CONTROL_VERSION;
    THostListTarget target(&bare);
    EXPECT_THROW(target.RunSynchronized([] {}), Exception);
    EXPECT_THROW(target.InsertLine("line"), Exception);
    EXPECT_EQ(target.CheckSynchronize(0), -1);

    class Caller : public TThread {
      public:
        explicit Caller(TSyncTarget* t) : TThread(t) {}
        ~Caller() override { WaitFor(); }
        std::string error;

      protected:
        void Execute() override {
            try {
                Synchronize([] {});
            } catch (const Exception& e) {
                error = e.what();
            }
        }
    };
    Caller caller(&target);
    caller.Resume();
    caller.WaitFor();  // joins: there is nothing to service
    EXPECT_EQ(caller.error, "the host cannot take status lines");
}

}  // namespace
