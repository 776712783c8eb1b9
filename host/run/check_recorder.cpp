#include "host/run/check_recorder.h"

#include "jobfiles/job_files.h"
#include "platform/string_list.h"

namespace rankcheck {

CheckRecorder::CheckRecorder(ledger::Ledger& ledger, const ledger::CheckInfo& check,
                             std::filesystem::path folder, std::vector<ledger::UserUrl> urls,
                             std::function<std::string()> now)
    : ledger_(ledger),
      check_(check),
      folder_(std::move(folder)),
      urls_(std::move(urls)),
      now_(std::move(now)) {
    for (const ledger::CheckedKeyword& keyword : ledger_.LoadCheck(check_.id).keywords) {
        if (keyword.state == ledger::KeywordState::Done) final_.insert(keyword.index);
        if (keyword.state == ledger::KeywordState::GivenUp) {
            final_.insert(keyword.index);
            givenUp_.insert(keyword.index);
        }
    }
}

void CheckRecorder::Record(int index, bool partial) {
    TStringList lines;
    lines.LoadFromFile((folder_ / jobfiles::ResultFileName(check_.engine, index)).string());
    const jobfiles::ResultLines sorted = jobfiles::ResultLines::From(lines.Lines());
    ledger::KeywordResult result;
    result.index = index;
    result.positionsExamined = static_cast<int>(sorted.links.size());
    if (sorted.givenUp) {
        result.state = ledger::KeywordState::GivenUp;
    } else if (partial && result.positionsExamined < check_.options.maxResults) {
        result.state = ledger::KeywordState::Partial;
    } else {
        result.state = ledger::KeywordState::Done;
    }
    result.ranks = RanksOf(sorted.links, urls_);
    result.links = sorted.links;
    result.recordedAt = now_();
    ledger_.RecordKeyword(check_.id, result);
    if (result.state != ledger::KeywordState::Partial) final_.insert(index);
    if (result.state == ledger::KeywordState::GivenUp) givenUp_.insert(index);
}

void CheckRecorder::CatchUp(int keywordIndex) {
    const int end = std::min(keywordIndex, check_.keywordsTotal);
    for (int i = 0; i < end; ++i) {
        if (!final_.count(i)) Record(i, false);
    }
}

jobfiles::ProgressRecord CheckRecorder::Progress() const {
    return jobfiles::ProgressRecord::Load(
        (folder_ / jobfiles::ProgressFileName(check_.engine)).string());
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

void CheckRecorder::Finish(bool completed, bool stoppedByUser) {
    if (pageSeen_) {
        const int current = Progress().keywordIndex;
        CatchUp(completed ? current + 1 : current);
        if (!completed && current >= 0 && current < check_.keywordsTotal &&
            !final_.count(current)) {
            Record(current, true);
        }
    } else if (completed) {
        CatchUp(check_.keywordsTotal);
    }
    const ledger::CheckState state = completed       ? ledger::CheckState::Complete
                                     : stoppedByUser ? ledger::CheckState::Stopped
                                                     : ledger::CheckState::Failed;
    ledger_.EndCheck(check_.id, state, now_());
}

std::vector<int> CheckRecorder::GivenUp() const {
    return {givenUp_.begin(), givenUp_.end()};
}

}  // namespace rankcheck
