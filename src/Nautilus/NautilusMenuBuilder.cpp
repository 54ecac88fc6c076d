#include "Nautilus/NautilusMenuBuilder.h"

#include <memory>

#include "Nautilus/GLibDeleter.h"
#include "Nautilus/NautilusExtensionApi.h"
#include "Platform/CallGuarded.h"

namespace corvane {
namespace {

struct Activation {
    NautilusMenuBuilder::Activate activate;
    FinderSyncController::MenuAction action;
};

void onActivate(NautilusMenuItem*, gpointer data)
{
    const auto& activation = *static_cast<const Activation*>(data);
    callGuarded("menu action", [&] { activation.activate(activation.action); });
}

void releaseActivation(gpointer data, GClosure*)
{
    const std::unique_ptr<Activation> activation(static_cast<Activation*>(data));
}

const char* iconOrNull(const std::string& icon)
{
    return icon.empty() ? nullptr : icon.c_str();
}

}  // namespace

GList* NautilusMenuBuilder::build(const NautilusTranslation::Menu& menu, const Activate& activate)
{
    if (menu.items.empty()) {
        return nullptr;
    }
    // The menu and the items take references of their own; ours go at the end of the scope.
    const GObjectPtr<NautilusMenu> submenu(nautilus_menu_new());
    for (const auto& description : menu.items) {
        const GObjectPtr<NautilusMenuItem> item(
            nautilus_menu_item_new(description.name.c_str(), description.label.c_str(), nullptr,
                                   iconOrNull(description.icon)));
        auto activation = std::make_unique<Activation>(Activation{activate, description.action});
        g_signal_connect_data(item.get(), "activate", G_CALLBACK(onActivate), activation.release(),
                              releaseActivation, GConnectFlags{});
        nautilus_menu_append_item(submenu.get(), item.get());
    }
    GObjectPtr<NautilusMenuItem> top(
        nautilus_menu_item_new(menu.name.c_str(), menu.label.c_str(), nullptr, nullptr));
    nautilus_menu_item_set_submenu(top.get(), submenu.get());
    return g_list_append(nullptr, top.release());
}

}  // namespace corvane
