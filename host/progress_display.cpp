#include "host/progress_display.h"

#include <cstdio>

#include "platform/sysutils.h"

namespace rankcheck {

namespace {

constexpr char kEraseLine[] = "\r\033[K";

// At most `columns` characters of a UTF-8 text.
std::string FitColumns(const std::string& text, int columns) {
    int shown = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (shown++ == columns) return text.substr(0, i);
    }
    return text;
}

}  // namespace

ProgressDisplay::ProgressDisplay(std::ostream& log, std::ostream& notes, bool live,
                                 std::function<int()> width)
    : log_(log), notes_(notes), live_(live), width_(std::move(width)) {}

void ProgressDisplay::BeginRun(const std::string& engine, std::vector<std::string> keywords,
                               int firstKeyword) {
    running_ = true;
    engine_ = engine;
    keywords_ = std::move(keywords);
    keyword_ = firstKeyword;
    keywordOver_ = false;
    positions_ = 0;
    started_ = std::chrono::steady_clock::now();
    drawnSecond_ = -1;
    Draw();
}

int ProgressDisplay::FindKeyword(const std::string& keyword, int from) const {
    for (int i = std::max(from, 0); i < static_cast<int>(keywords_.size()); ++i) {
        if (keywords_[i] == keyword) return i;
    }
    return -1;
}

void ProgressDisplay::Follow(const StatusLine& status) {
    const bool current = keyword_ >= 0 && keyword_ < static_cast<int>(keywords_.size()) &&
                         keywords_[keyword_] == status.keyword;
    switch (status.kind) {
        case StatusLine::Kind::KeywordStart:
            // A start line comes before every attempt at a keyword with no position counted
            // yet: the same keyword again after a failed first page, or the next keyword.
            if (!current || keywordOver_ || positions_ > 0) {
                const int found = FindKeyword(status.keyword, keyword_ + 1);
                keyword_ = found >= 0 ? found : keyword_ + 1;
            }
            keywordOver_ = false;
            positions_ = 0;
            break;
        case StatusLine::Kind::Positions:
            if (!current) {
                const int found = FindKeyword(status.keyword, keyword_);
                if (found >= 0) keyword_ = found;
            }
            positions_ = status.positions;
            break;
        case StatusLine::Kind::PageSkipped:
            keywordOver_ = true;
            break;
        default:
            break;
    }
}

std::string ProgressDisplay::ProgressText() const {
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::steady_clock::now() - started_)
                                  .count();
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%lld:%02lld", seconds / 60, seconds % 60);
    std::string text = engine_ + ": keyword " + std::to_string(keyword_ + 1) + " of " +
                       std::to_string(keywords_.size());
    if (keyword_ >= 0 && keyword_ < static_cast<int>(keywords_.size())) {
        text += " \"" + AnsiToUtf8(keywords_[keyword_]) + "\"";
    }
    return text + ", " + std::to_string(positions_) + " pos., " + elapsed;
}

void ProgressDisplay::Erase() {
    if (!drawn_) return;
    log_ << kEraseLine << std::flush;
    drawn_ = false;
}

void ProgressDisplay::Draw() {
    if (!live_ || !running_) return;
    const int columns = std::max(width_() - 1, 10);
    log_ << kEraseLine << FitColumns(ProgressText(), columns) << std::flush;
    drawn_ = true;
    drawnSecond_ = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::steady_clock::now() - started_)
                       .count();
}

void ProgressDisplay::Line(const std::string& line) {
    Erase();
    log_ << AnsiToUtf8(line) << '\n';
    if (!live_) log_ << std::flush;
    Follow(StatusLine::Parse(line));
    Draw();
}

void ProgressDisplay::Note(const std::string& text) {
    Erase();
    notes_ << text << std::endl;
    Draw();
}

void ProgressDisplay::Tick() {
    if (!live_ || !running_) return;
    const long long second = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - started_)
                                 .count();
    if (second != drawnSecond_) Draw();
}

void ProgressDisplay::EndRun() {
    Erase();
    running_ = false;
}

}  // namespace rankcheck
