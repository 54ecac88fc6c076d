#pragma once

#include <ostream>

#include <QMetaType>

namespace corvane {

// Where the client is: setup (no server yet), login (signed out), ready (signed in).
enum class AppPhase { setup, login, ready };

inline std::ostream& operator<<(std::ostream& out, AppPhase phase)
{
    switch (phase) {
    case AppPhase::setup:
        return out << "setup";
    case AppPhase::login:
        return out << "login";
    case AppPhase::ready:
        return out << "ready";
    }
    return out << "unknown";
}

}  // namespace corvane

Q_DECLARE_METATYPE(corvane::AppPhase)
