// Loads the built module as Nautilus does (dlopen, the three entry points, a GTypeModule) and
// drives its providers with fake files, its main queue with the default GLib main context.

#include <string>

#include <dlfcn.h>

#include <gtest/gtest.h>

#include "FinderSync/FinderSyncProtocol.h"
#include "Nautilus/FakeNautilusFileInfo.h"
#include "Nautilus/IterateUntil.h"
#include "Nautilus/NautilusExtensionApi.h"
#include "Platform/DistributedNotificationCenter.h"
#include "Platform/PrivateBus.h"
#include "Platform/UserDefaults.h"
#include "support/TempHome.h"

namespace corvane {
namespace {

using test::FakeNautilusFileInfo;

gboolean loadModule(GTypeModule*)
{
    return TRUE;
}

void unloadModule(GTypeModule*) {}

void initModuleClass(gpointer klass, gpointer)
{
    auto* moduleClass = static_cast<GTypeModuleClass*>(klass);
    moduleClass->load = loadModule;
    moduleClass->unload = unloadModule;
}

// A type module whose code is already loaded, as Nautilus's module wrapper is when it calls
// nautilus_module_initialize().
GType testTypeModuleType()
{
    static const GType type = g_type_register_static_simple(
        G_TYPE_TYPE_MODULE, "CorvaneTestTypeModule", sizeof(GTypeModuleClass), initModuleClass,
        sizeof(GTypeModule), nullptr, GTypeFlags{});
    return type;
}

TEST(NautilusModuleTest, LoadsRegistersItsProvidersAndServesEmblemsMenusAndChanges)
{
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
    test::TempHome home;
    test::PrivateBus bus;
    const std::string path = "/home/u/Sync/a.txt";
    SyncStateProvider::shared().setSyncDirectory("/home/u/Sync");
    SyncStateProvider::shared().setBadge(path, SyncBadge::syncing);
    UserDefaults::suite(SyncStateProvider::kSuiteName)->flush();

    void* library = dlopen(CORVANE_NAUTILUS_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using Initialize = void (*)(GTypeModule*);
    using Shutdown = void (*)();
    using ListTypes = void (*)(const GType**, int*);
    const auto initialize =
        reinterpret_cast<Initialize>(dlsym(library, "nautilus_module_initialize"));
    const auto shutdown = reinterpret_cast<Shutdown>(dlsym(library, "nautilus_module_shutdown"));
    const auto listTypes =
        reinterpret_cast<ListTypes>(dlsym(library, "nautilus_module_list_types"));
    ASSERT_TRUE(initialize && shutdown && listTypes);
    // Nothing else leaks out of the module to clash with the file manager's own symbols.
    EXPECT_EQ(dlsym(library, "_ZN7corvane9MainQueue5asyncESt8functionIFvvEE"), nullptr);

    auto* module = G_TYPE_MODULE(g_object_new(testTypeModuleType(), nullptr));
    ASSERT_TRUE(g_type_module_use(module));
    initialize(module);
    const GType* types = nullptr;
    int count = 0;
    listTypes(&types, &count);
    ASSERT_EQ(count, 1);
    EXPECT_TRUE(g_type_is_a(types[0], NAUTILUS_TYPE_INFO_PROVIDER));
    EXPECT_TRUE(g_type_is_a(types[0], NAUTILUS_TYPE_MENU_PROVIDER));

    {
        const GObjectPtr<GObject> provider(G_OBJECT(g_object_new(types[0], nullptr)));
        const auto file = FakeNautilusFileInfo::atPath(path);
        // Nautilus always passes a closure for answers that come later; ours never do.
        GClosure* updateComplete = g_cclosure_new(G_CALLBACK(+[] {}), nullptr, nullptr);
        g_closure_sink(g_closure_ref(updateComplete));
        NautilusOperationHandle* handle = nullptr;
        EXPECT_EQ(nautilus_info_provider_update_file_info(NAUTILUS_INFO_PROVIDER(provider.get()),
                                                          file.get(), updateComplete, &handle),
                  NAUTILUS_OPERATION_COMPLETE);
        g_closure_unref(updateComplete);
        EXPECT_EQ(file.emblems(), std::vector<std::string>{"synchronizing-symbolic"});

        GList* selection = g_list_append(nullptr, file.get());
        GList* items = nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(provider.get()),
                                                             selection);
        g_list_free(selection);
        ASSERT_EQ(g_list_length(items), 1u);
        gchar* label = nullptr;
        g_object_get(items->data, "label", &label, nullptr);
        EXPECT_STREQ(label, "Corvane");
        g_free(label);
        nautilus_menu_item_list_free(items);

        // The application announces a change: the module's main queue runs on the default
        // main context and makes Nautilus ask again.
        DistributedNotificationCenter application;
        application.post("com.corvane.syncStateChanged");
        EXPECT_TRUE(test::iterateUntil(nullptr, [&] { return file.invalidations() > 0; }));
    }

    shutdown();
    g_type_module_unuse(module);
    UserDefaults::resetShared();
    // The module stays loaded, as in Nautilus: its types outlive this test.
}

}  // namespace
}  // namespace corvane
