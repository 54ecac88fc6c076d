#include "App/LaunchAtLogin.h"

#include <cstdio>
#include <exception>
#include <string>

#include "Platform/LoginItem.h"

namespace corvane {

bool LaunchAtLogin::isEnabled(const LoginItem& item)
{
    return item.isRegistered();
}

void LaunchAtLogin::setEnabled(LoginItem& item, bool enabled)
{
    try {
        if (enabled) {
            item.registerItem();
        } else {
            item.unregisterItem();
        }
    } catch (const std::exception& error) {
        // The one trace of a failed change: no log entry, no message to the user.
        const std::string line = std::string("LaunchAtLogin error: ") + error.what() + "\n";
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }
}

}  // namespace corvane
