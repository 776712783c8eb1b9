#include "host/run/progress_display.h"

#include <algorithm>
#include <cstdio>

#include "host/report/safe_text.h"
#include "host/report/text_table.h"
#include "platform/sysutils.h"

namespace rankcheck {

using jobfiles::StatusLine;

namespace {

constexpr char kEraseLine[] = "\r\033[K";

std::string Clock(long long seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

long long SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                            start)
        .count();
}

}  // namespace

ProgressDisplay::ProgressDisplay(std::ostream& log, std::ostream& notes, bool live,
                                 std::function<int()> width)
    : log_(log), notes_(notes), live_(live), width_(std::move(width)) {}

void ProgressDisplay::BeginRun(const std::string& engine, std::vector<std::string> keywords,
                               int firstKeyword, int maxResults) {
    if (Run* old = Find(engine)) *old = Run{};
    std::erase_if(runs_, [](const Run& run) { return run.engine.empty(); });
    Run run;
    run.engine = engine;
    run.keywords = std::move(keywords);
    run.firstKeyword = firstKeyword;
    run.maxResults = maxResults;
    run.keyword = firstKeyword;
    run.started = std::chrono::steady_clock::now();
    if (runs_.empty()) {
        started_ = run.started;
        drawnSecond_ = -1;
    }
    runs_.push_back(std::move(run));
    Draw();
}

ProgressDisplay::Run* ProgressDisplay::Find(const std::string& engine) {
    if (engine.empty()) return runs_.empty() ? nullptr : &runs_.back();
    for (Run& run : runs_) {
        if (run.engine == engine) return &run;
    }
    return nullptr;
}

const ProgressDisplay::Run* ProgressDisplay::Find(const std::string& engine) const {
    return const_cast<ProgressDisplay*>(this)->Find(engine);
}

int ProgressDisplay::Run::FindKeyword(const std::string& text, int from) const {
    for (int i = std::max(from, 0); i < static_cast<int>(keywords.size()); ++i) {
        if (keywords[i] == text) return i;
    }
    return -1;
}

void ProgressDisplay::Run::Follow(const StatusLine& status) {
    const bool current = keyword >= 0 && keyword < static_cast<int>(keywords.size()) &&
                         keywords[keyword] == status.keyword;
    switch (status.kind) {
        case StatusLine::Kind::KeywordStart:
            // A start line comes before every attempt at a keyword with no position counted
            // yet: the same keyword again after a failed first page, or the next keyword.
            if (!current || keywordOver || positions > 0) {
                const int found = FindKeyword(status.keyword, keyword + 1);
                keyword = found >= 0 ? found : keyword + 1;
            }
            keywordOver = false;
            positions = 0;
            break;
        case StatusLine::Kind::Positions:
            if (!current) {
                const int found = FindKeyword(status.keyword, keyword);
                if (found >= 0) keyword = found;
            }
            positions = status.positions;
            break;
        case StatusLine::Kind::PageSkipped:
            keywordOver = true;
            break;
        default:
            break;
    }
}

std::string ProgressDisplay::Run::Text(bool withKeyword, bool brief) const {
    std::string text =
        brief ? engine + " " + std::to_string(keyword + 1) + "/" + std::to_string(keywords.size())
              : engine + ": keyword " + std::to_string(keyword + 1) + " of " +
                    std::to_string(keywords.size());
    if (!brief && withKeyword && keyword >= 0 && keyword < static_cast<int>(keywords.size())) {
        text += " \"" + TerminalText(AnsiToUtf8(keywords[keyword])) + "\"";
    }
    text += ", " + std::to_string(positions) + " pos.";
    // The time left, from the pace so far: the keywords of this run done, and the share of the
    // current one that its positions make.
    const int total = static_cast<int>(keywords.size()) - firstKeyword;
    const double share =
        maxResults > 0 ? std::min(1.0, static_cast<double>(positions) / maxResults) : 0.0;
    const double done = (keyword - firstKeyword) + share;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (done > 0 && total > 0 && elapsed > 0) {
        const double left = elapsed * (total - done) / done;
        text += (brief ? ", " : ", about ") + Clock(static_cast<long long>(left + 0.5)) + " left";
    }
    return text;
}

std::string ProgressDisplay::ProgressText(int columns) const {
    const bool one = runs_.size() == 1;
    const auto join = [&](bool brief) {
        std::string text;
        for (const Run& run : runs_) {
            if (!text.empty()) text += " | ";
            text += run.Text(one, brief);
        }
        if (!text.empty()) text += ", ";
        return text + Clock(SecondsSince(started_));
    };
    std::string text = join(false);
    if (!one && columns > 0 && FitColumns(text, columns).size() < text.size()) text = join(true);
    return text;
}

int ProgressDisplay::KeywordIndex(const std::string& engine) const {
    const Run* run = Find(engine);
    return run ? run->keyword : 0;
}

int ProgressDisplay::Positions(const std::string& engine) const {
    const Run* run = Find(engine);
    return run ? run->positions : 0;
}

void ProgressDisplay::Erase() {
    if (!drawn_) return;
    log_ << kEraseLine << std::flush;
    drawn_ = false;
}

void ProgressDisplay::Draw() {
    if (!live_ || runs_.empty()) return;
    const int columns = std::max(width_() - 1, 10);
    log_ << kEraseLine << FitColumns(ProgressText(columns), columns) << std::flush;
    drawn_ = true;
    drawnSecond_ = SecondsSince(started_);
}

void ProgressDisplay::Line(const std::string& engine, const std::string& line) {
    Erase();
    const StatusLine status = StatusLine::Parse(line);
    if (runs_.size() > 1 && status.kind == StatusLine::Kind::Other &&
        line.find(engine) == std::string::npos) {
        log_ << engine << ": ";
    }
    log_ << TerminalText(AnsiToUtf8(line), kLineColumns) << '\n';
    if (!live_) log_ << std::flush;
    if (Run* run = Find(engine)) run->Follow(status);
    Draw();
}

void ProgressDisplay::Line(const std::string& line) {
    Line(runs_.empty() ? std::string() : runs_.back().engine, line);
}

void ProgressDisplay::Note(const std::string& text) {
    Erase();
    notes_ << TerminalMessage(text) << std::endl;
    Draw();
}

void ProgressDisplay::Tick() {
    if (!live_ || runs_.empty()) return;
    if (SecondsSince(started_) != drawnSecond_) Draw();
}

void ProgressDisplay::EndRun(const std::string& engine) {
    Erase();
    std::erase_if(runs_, [&](const Run& run) { return run.engine == engine; });
    Draw();
}

void ProgressDisplay::EndRun() {
    Erase();
    runs_.clear();
}

}  // namespace rankcheck
