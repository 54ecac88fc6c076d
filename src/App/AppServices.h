#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "Sync/SyncEngineFactory.h"

namespace corvane {

class FolderChooser;
class LoginItem;
class NotificationPoster;
class Workspace;

// What AppState reaches of the desktop and of time, handed in at construction so that tests
// can put their own in place. production() makes the real ones.
struct AppServices {
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    SyncEngineFactory engineFactory;
    std::shared_ptr<NotificationPoster> notifications;
    std::shared_ptr<LoginItem> loginItem;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<FolderChooser> folderChooser;
    WallClock now;

    // The product's engines, the desktop's notification service, the XDG autostart entry of
    // the running program, xdg-open, the desktop's folder dialog and the system clock.
    static AppServices production();
};

}  // namespace corvane
