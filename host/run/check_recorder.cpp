#include "host/run/check_recorder.h"

#include <stdexcept>

#include "jobfiles/job_files.h"
#include "platform/string_list.h"

namespace rankcheck {

CheckRecorder::CheckRecorder(ledger::Ledger& ledger, const ledger::CheckInfo& check, Job job,
                             std::vector<ledger::UserUrl> urls, std::function<std::string()> now)
    : ledger_(ledger),
      check_(check),
      job_(std::move(job)),
      urls_(std::move(urls)),
      now_(std::move(now)) {
    // A recheck searches its keywords afresh: none of them is final in its job yet.
    if (!job_.checkIndexes.empty()) return;
    for (const ledger::CheckedKeyword& keyword : ledger_.LoadCheck(check_.id).keywords) {
        if (keyword.state == ledger::KeywordState::Done ||
            keyword.state == ledger::KeywordState::GivenUp) {
            final_.insert(keyword.index);
        }
    }
}

int CheckRecorder::JobKeywords() const {
    return job_.checkIndexes.empty() ? check_.keywordsTotal
                                     : static_cast<int>(job_.checkIndexes.size());
}

int CheckRecorder::CheckIndex(int jobIndex) const {
    return job_.checkIndexes.empty() ? jobIndex : job_.checkIndexes.at(jobIndex);
}

bool CheckRecorder::Record(int jobIndex, bool partial) {
    TStringList lines;
    lines.LoadFromFile((job_.folder / jobfiles::ResultFileName(check_.engine, jobIndex)).string());
    const jobfiles::ResultLines sorted = jobfiles::ResultLines::From(lines.Lines());
    ledger::KeywordResult result;
    result.index = CheckIndex(jobIndex);
    result.positionsExamined = static_cast<int>(sorted.links.size());
    if (sorted.givenUp) {
        result.state = ledger::KeywordState::GivenUp;
    } else if (partial && result.positionsExamined < check_.options.maxResults) {
        // Stopped before its first page came: the keyword was not searched.
        if (result.positionsExamined == 0) return false;
        result.state = ledger::KeywordState::Partial;
    } else {
        result.state = ledger::KeywordState::Done;
    }
    result.ranks = RanksOf(sorted.links, urls_);
    result.links = sorted.links;
    result.recordedAt = now_();
    ledger_.RecordKeyword(check_.id, result);
    if (result.state == ledger::KeywordState::Partial) return true;
    final_.insert(jobIndex);
    if (OnRecorded) OnRecorded(result.index, ledger_.Outcome(check_.id, result.index));
    return true;
}

void CheckRecorder::CatchUp(int jobIndex) {
    const int end = std::min(jobIndex, JobKeywords());
    for (int i = 0; i < end; ++i) {
        if (!final_.count(i)) Record(i, false);
    }
}

jobfiles::ProgressRecord CheckRecorder::Progress() const {
    return jobfiles::ProgressRecord::Load(
        (job_.folder / jobfiles::ProgressFileName(check_.engine)).string());
}

void CheckRecorder::OnStatusLine(const jobfiles::StatusLine& line) {
    using Kind = jobfiles::StatusLine::Kind;
    switch (line.kind) {
        case Kind::Positions:
        case Kind::Retrying:
        case Kind::PageSkipped:
            pageSeen_ = true;
            return;
        case Kind::KeywordStart:
            break;
        default:
            return;
    }
    if (!pageSeen_) return;  // the progress file may still be an older run's
    const jobfiles::ProgressRecord progress = Progress();
    const bool retryingFirstPage = progress.pageNumber == 1 && progress.position == 0;
    CatchUp(retryingFirstPage ? progress.keywordIndex : progress.keywordIndex + 1);
}

void CheckRecorder::Finish(bool completed, ledger::CheckState state, const std::string& reason) {
    // The check is ended also when its last keywords cannot be read (a progress or result file
    // the run could not write): it must never be left running.
    std::string unread;
    try {
        if (pageSeen_) {
            const int current = Progress().keywordIndex;
            CatchUp(completed ? current + 1 : current);
            if (!completed && current >= 0 && current < JobKeywords() && !final_.count(current)) {
                Record(current, true);
            }
        } else if (completed) {
            CatchUp(JobKeywords());
        }
    } catch (const std::exception& e) {
        unread = e.what();
        if (state == ledger::CheckState::Complete) state = ledger::CheckState::Failed;
    }
    ledger_.EndCheck(check_.id, state, now_(), unread.empty() || !reason.empty() ? reason : unread);
    if (!unread.empty()) {
        throw std::runtime_error("the last keywords of the run could not be read: " + unread);
    }
}

}  // namespace rankcheck
