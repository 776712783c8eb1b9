#include "host/gateway/event_log.h"

#include <ctime>

namespace rankcheck::gateway {

uint64_t EventLog::Add(Event event) {
    if (event.at == std::chrono::system_clock::time_point{})
        event.at = std::chrono::system_clock::now();
    uint64_t number;
    {
        std::lock_guard lock(mutex_);
        number = event.sequence = ++last_;
        events_.push_back(std::move(event));
        while (events_.size() > keep_)
            events_.pop_front();
    }
    added_.notify_all();
    return number;
}

std::vector<Event> EventLog::Since(uint64_t after) const {
    std::lock_guard lock(mutex_);
    std::vector<Event> newer;
    for (const Event& event : events_)
        if (event.sequence > after) newer.push_back(event);
    return newer;
}

bool EventLog::WaitBeyond(uint64_t after, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return added_.wait_for(lock, limit, [&] { return last_ > after; });
}

uint64_t EventLog::Last() const {
    std::lock_guard lock(mutex_);
    return last_;
}

std::string ClockText(std::chrono::system_clock::time_point t,
                      std::chrono::system_clock::time_point now) {
    const auto minute = std::chrono::ceil<std::chrono::minutes>(t);
    const std::time_t when = std::chrono::system_clock::to_time_t(minute);
    const std::time_t today = std::chrono::system_clock::to_time_t(now);
    std::tm whenTm{}, todayTm{};
    ::localtime_r(&when, &whenTm);
    ::localtime_r(&today, &todayTm);
    const bool sameDay = whenTm.tm_year == todayTm.tm_year && whenTm.tm_yday == todayTm.tm_yday;
    char text[32];
    std::strftime(text, sizeof text, sameDay ? "%H:%M" : "%Y-%m-%d %H:%M", &whenTm);
    return text;
}

}  // namespace rankcheck::gateway
