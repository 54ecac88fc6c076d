// The Nautilus extension module (libnautilus-corvane.so): registers one GObject type that is
// both an info provider (emblems) and a menu provider, all of whose work NautilusHost does.
// Nautilus calls the entry points and the providers on its main thread.

#include <cstdlib>
#include <memory>

#include "Nautilus/GLibMainQueueExecutor.h"
#include "Nautilus/NautilusExtensionApi.h"
#include "Nautilus/NautilusHost.h"
#include "Platform/CallGuarded.h"
#include "Platform/CommandLinePasteboard.h"
#include "Platform/DistributedNotificationCenter.h"
#include "Platform/MainQueue.h"
#include "Platform/XdgOpenWorkspace.h"

namespace {

using namespace corvane;

struct CorvaneNautilusProvider {
    GObject parent;
};

struct CorvaneNautilusProviderClass {
    GObjectClass parent;
};

// Module-wide, as Nautilus loads a module once and talks to it through free functions.
GType g_providerType = 0;
std::shared_ptr<GLibMainQueueExecutor> g_executor;
std::unique_ptr<NautilusHost> g_host;

NautilusOperationResult updateFileInfo(NautilusInfoProvider*, NautilusFileInfo* file, GClosure*,
                                       NautilusOperationHandle**)
{
    callGuarded("file information", [file] {
        if (g_host) {
            g_host->updateFileInfo(file);
        }
    });
    return NAUTILUS_OPERATION_COMPLETE;
}

// Nothing is ever in progress: every answer is given at once.
void cancelUpdate(NautilusInfoProvider*, NautilusOperationHandle*) {}

GList* fileItems(NautilusMenuProvider*, GList* files)
{
    return callGuarded("file menu",
                       [files] { return g_host ? g_host->fileItems(files) : nullptr; });
}

GList* backgroundItems(NautilusMenuProvider*, NautilusFileInfo* folder)
{
    return callGuarded("folder menu",
                       [folder] { return g_host ? g_host->backgroundItems(folder) : nullptr; });
}

void initInfoProvider(gpointer iface, gpointer)
{
    auto* info = static_cast<NautilusInfoProviderInterface*>(iface);
    info->update_file_info = updateFileInfo;
    info->cancel_update = cancelUpdate;
}

void initMenuProvider(gpointer iface, gpointer)
{
    auto* menu = static_cast<NautilusMenuProviderInterface*>(iface);
    menu->get_file_items = fileItems;
    menu->get_background_items = backgroundItems;
}

// Lets go of the host and unbinds the main queue. Nautilus need not call the module's shutdown
// entry point before it exits, and the host and its notification thread rely on function-local
// statics (the main queue's binding, the settings' registry) that the exit destroys: this runs
// at exit too, registered after they were made, so before they go.
void releaseHost()
{
    g_host.reset();
    MainQueue::uninstall(g_executor);
    g_executor.reset();
}

void registerProviderType(GTypeModule* module)
{
    const GTypeInfo info{
        sizeof(CorvaneNautilusProviderClass),
        nullptr,  // base_init
        nullptr,  // base_finalize
        nullptr,  // class_init
        nullptr,  // class_finalize
        nullptr,  // class_data
        sizeof(CorvaneNautilusProvider),
        0,        // n_preallocs
        nullptr,  // instance_init
        nullptr,  // value_table
    };
    g_providerType = g_type_module_register_type(module, G_TYPE_OBJECT, "CorvaneNautilusProvider",
                                                 &info, GTypeFlags{});
    const GInterfaceInfo infoProvider{initInfoProvider, nullptr, nullptr};
    g_type_module_add_interface(module, g_providerType, NAUTILUS_TYPE_INFO_PROVIDER, &infoProvider);
    const GInterfaceInfo menuProvider{initMenuProvider, nullptr, nullptr};
    g_type_module_add_interface(module, g_providerType, NAUTILUS_TYPE_MENU_PROVIDER, &menuProvider);
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void nautilus_module_initialize(GTypeModule* module)
{
    registerProviderType(module);
    // Without a host the providers answer nothing, and Nautilus carries on.
    callGuarded("corvane module start", [] {
        // Notification handlers and other main-queue work run on Nautilus's main loop.
        g_executor = std::make_shared<GLibMainQueueExecutor>();
        MainQueue::install(g_executor);
        g_host = std::make_unique<NautilusHost>(DistributedNotificationCenter::defaultCenter(),
                                                std::make_unique<CommandLinePasteboard>(),
                                                std::make_unique<XdgOpenWorkspace>());
        std::atexit(releaseHost);
    });
}

G_MODULE_EXPORT void nautilus_module_shutdown()
{
    releaseHost();
}

G_MODULE_EXPORT void nautilus_module_list_types(const GType** types, int* count)
{
    static GType list[1];
    list[0] = g_providerType;
    *types = list;
    *count = 1;
}

}  // extern "C"
