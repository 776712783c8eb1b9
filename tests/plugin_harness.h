// PluginHarness: loads a built plug-in library with dlopen, the way a host does, binds its four
// exports by name and drives runs through them with a hostkit::HostBridge that services the status
// lines on the test's main thread. The library stays loaded for the life of the process. Test
// (main) thread only.
#pragma once

#include <dlfcn.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "hostkit/host_bridge.h"

namespace testsupport {

class PluginHarness {
  public:
    using StartFn = void (*)(char, int, char, char, const HostListControl*);
    using VoidFn = void (*)();
    using FinishedFn = char (*)();

    // `path` is the library file; `engine` the engine word of its exports ("Quillon").
    PluginHarness(const std::string& path, const std::string& engine) {
        handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) throw std::runtime_error(::dlerror());
        start = Bind<StartFn>("_" + engine + "StartSearch");
        stop = Bind<VoidFn>("_" + engine + "StopSearch");
        isFinished = Bind<FinishedFn>("_" + engine + "IsFinished");
        clear = Bind<VoidFn>("_" + engine + "ClearMemory");
    }

    // The four exports of a start export built into the test itself.
    PluginHarness(StartFn start_, VoidFn stop_, FinishedFn isFinished_, VoidFn clear_)
        : start(start_), stop(stop_), isFinished(isFinished_), clear(clear_) {}

    StartFn start;
    VoidFn stop;
    FinishedFn isFinished;
    VoidFn clear;
    hostkit::HostBridge bridge;

    void Start(char resume = 0, int maxResults = 100, char stopWhenAllFound = 0,
               char exactMatch = 0) {
        start(resume, maxResults, stopWhenAllFound, exactMatch, bridge.Control());
    }
    // Services status lines until the run has finished (or `limit` passes); true when finished.
    bool WaitFinished(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!isFinished()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            bridge.Pump(5);
        }
        bridge.Pump(0);
        return true;
    }
    // A whole run: start, wait, clear. Returns false when it did not finish in time.
    bool Run(char resume = 0, int maxResults = 100, char stopWhenAllFound = 0, char exactMatch = 0,
             std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        Start(resume, maxResults, stopWhenAllFound, exactMatch);
        const bool done = WaitFinished(limit);
        clear();
        return done;
    }
    // Lines oldest first, as a log shows them.
    std::vector<std::string> Log() const {
        return std::vector<std::string>(bridge.Lines().rbegin(), bridge.Lines().rend());
    }

  private:
    template <typename Fn>
    Fn Bind(const std::string& name) {
        void* symbol = ::dlsym(handle_, name.c_str());
        if (symbol == nullptr) throw std::runtime_error("missing export " + name);
        return reinterpret_cast<Fn>(symbol);
    }

    void* handle_ = nullptr;
};

}  // namespace testsupport
