#pragma once

namespace corvane {

class LoginItem;

// Launch at login over the desktop's login item. No state of its own: the login item is the
// only record of the setting. Main thread only; both may block for as long as the desktop takes.
class LaunchAtLogin {
public:
    // Asks the login item afresh on every call.
    static bool isEnabled(const LoginItem& item);
    // Registers (true) or unregisters (false), also when already so. A failure is printed as
    // one line on standard output, "LaunchAtLogin error: " and the reason, and goes no further.
    static void setEnabled(LoginItem& item, bool enabled);
};

}  // namespace corvane
