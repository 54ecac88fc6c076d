#pragma once

#include <chrono>

#include <QDateTime>
#include <QString>

namespace corvane {

// The time elapsed from `then` to `now` in the panel's words: one unit, rounded down ("0 sec",
// "59 sec", "5 min", "3 hr", "1 day", "6 days", "2 wk", "4 mo", "1 yr"); a `then` after `now`
// counts as no time at all. Weeks are 7 days, months 30 days, years 365 days. Pure.
QString relativeTime(std::chrono::system_clock::time_point then,
                     std::chrono::system_clock::time_point now);

// The same for a date and time of the application state.
QString relativeTime(const QDateTime& then, std::chrono::system_clock::time_point now);

}  // namespace corvane
