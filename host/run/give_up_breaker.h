// GiveUpBreaker: the breaker of one engine's run. An engine or proxy that stops answering makes
// the plug-in give every keyword up after its retries, or answer with pages without results (a
// block, a captcha): left alone, the run would spend the whole check so. The breaker counts the
// keywords in a row whose outcome failed (given up, or suspect) and, when `limit` are in a row,
// stops the run through RunStop with the reason "3 keywords in a row failed: the engine or the
// proxy is not answering". A trusted keyword starts the count again. Limit 0: never.
//
// Owned by the run of one engine (RunSession); main thread, fed by the check's recorder.
#pragma once

#include <string>

#include "host/run/run_stop.h"
#include "ledger/keyword_outcome.h"

namespace rankcheck {

class GiveUpBreaker {
  public:
    static constexpr int kDefaultLimit = 3;

    GiveUpBreaker(int limit, std::string engine, RunStop& stop);

    // The outcome of the next keyword the run recorded.
    void OnOutcome(const ledger::KeywordOutcome& outcome);
    bool Tripped() const { return tripped_; }

    // The reason a check stopped by the breaker keeps.
    static std::string Reason(int limit);

  private:
    const int limit_;
    const std::string engine_;
    RunStop& stop_;
    int inARow_ = 0;
    bool tripped_ = false;
};

}  // namespace rankcheck
