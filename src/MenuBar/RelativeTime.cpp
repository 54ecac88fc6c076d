#include "MenuBar/RelativeTime.h"

#include <algorithm>
#include <array>

#include <QCoreApplication>

namespace corvane {
namespace {

using Seconds = std::chrono::seconds;

struct Unit {
    Seconds length;
    const char* text;  // "%1 <unit>", translated in the context "RelativeTime"
};

constexpr Seconds kMinute{60};
constexpr Seconds kHour{60 * 60};
constexpr Seconds kDay{24 * 60 * 60};

// Largest first: the first unit that fits the elapsed time names it.
constexpr std::array<Unit, 6> kUnits{{
    {365 * kDay, QT_TRANSLATE_NOOP("RelativeTime", "%1 yr")},
    {30 * kDay, QT_TRANSLATE_NOOP("RelativeTime", "%1 mo")},
    {7 * kDay, QT_TRANSLATE_NOOP("RelativeTime", "%1 wk")},
    {kDay, QT_TRANSLATE_NOOP("RelativeTime", "%1 days")},
    {kHour, QT_TRANSLATE_NOOP("RelativeTime", "%1 hr")},
    {kMinute, QT_TRANSLATE_NOOP("RelativeTime", "%1 min")},
}};

QString translated(const char* text)
{
    return QCoreApplication::translate("RelativeTime", text);
}

}  // namespace

QString relativeTime(std::chrono::system_clock::time_point then,
                     std::chrono::system_clock::time_point now)
{
    const Seconds elapsed = std::max(Seconds{0}, std::chrono::floor<Seconds>(now - then));
    for (const Unit& unit : kUnits) {
        if (elapsed >= unit.length) {
            const auto count = elapsed / unit.length;
            if (unit.length == kDay && count == 1) {
                return translated(QT_TRANSLATE_NOOP("RelativeTime", "1 day"));
            }
            return translated(unit.text).arg(count);
        }
    }
    return translated(QT_TRANSLATE_NOOP("RelativeTime", "%1 sec")).arg(elapsed.count());
}

QString relativeTime(const QDateTime& then, std::chrono::system_clock::time_point now)
{
    const std::chrono::system_clock::time_point time{
        std::chrono::milliseconds(then.toMSecsSinceEpoch())};
    return relativeTime(time, now);
}

}  // namespace corvane
