#pragma once

#include <string>

namespace corvane {

// Posts user notifications to the desktop. Implementations say which threads may call them.
class NotificationPoster {
public:
    virtual ~NotificationPoster() = default;

    // Asks for permission to post alerts with a sound. The answer is not reported: a desktop
    // that refuses simply drops what is posted.
    virtual void requestPermission() = 0;
    // Shows one new notification at once, with the default sound; nothing is reported back.
    virtual void post(const std::string& title, const std::string& body) = 0;
};

}  // namespace corvane
