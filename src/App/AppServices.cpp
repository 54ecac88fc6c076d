#include "App/AppServices.h"

#include "App/FolderChooser.h"
#include "Platform/FreedesktopNotifications.h"
#include "Platform/XdgAutostartLoginItem.h"
#include "Platform/XdgOpenWorkspace.h"

namespace corvane {

AppServices AppServices::production()
{
    return AppServices{
        makeSyncEngineFactory(),
        std::make_shared<FreedesktopNotifications>(),
        std::make_shared<XdgAutostartLoginItem>(),
        std::make_shared<XdgOpenWorkspace>(),
        FolderChooser::fileDialog(),
        [] { return std::chrono::system_clock::now(); },
    };
}

}  // namespace corvane
