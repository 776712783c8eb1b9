// The two engine adapters with a thread start that fails on request, for building the start
// export into a test (PLUGIN_ADAPTER_CLASS = StartFailingQuillon or StartFailingVerrin). While
// `failThreadStart` is set, Resume meets the error std::thread raises when the system has no
// thread to give (EAGAIN); otherwise the adapter is the real one.
// Set from the test's main thread, read on it by Resume.
#pragma once

#include <atomic>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

#include "engines/quillon_search.h"
#include "engines/verrin_search.h"

namespace testsupport {

inline std::atomic<bool> failThreadStart{false};

template <class Adapter>
class StartFailing : public Adapter {
  public:
    using Adapter::Adapter;

  protected:
    std::thread StartThread(std::function<void()> body) override {
        if (failThreadStart) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        return Adapter::StartThread(std::move(body));
    }
};

}  // namespace testsupport

using StartFailingQuillon = testsupport::StartFailing<TQuillonSearch>;
using StartFailingVerrin = testsupport::StartFailing<TVerrin>;
