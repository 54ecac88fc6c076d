#pragma once

#include <filesystem>
#include <string>

#include "Platform/LoginItem.h"

namespace corvane {

// The login item as an XDG autostart entry: "autostart/corvane.desktop" in the XDG config home
// (~/.config unless XDG_CONFIG_HOME says otherwise, read on every call), whose Exec line starts
// the executable by its absolute path. An entry is in force unless it is marked Hidden=true or
// X-GNOME-Autostart-enabled=false. Thread-safe.
class XdgAutostartLoginItem final : public LoginItem {
public:
    // `executable`: the program the entry starts; by default the running one (/proc/self/exe).
    explicit XdgAutostartLoginItem(std::filesystem::path executable = currentExecutable());

    static std::filesystem::path currentExecutable();
    static std::filesystem::path entryPath();
    // The desktop entry that starts `executable`.
    static std::string entryText(const std::filesystem::path& executable);

    bool isRegistered() const override;
    void registerItem() override;
    void unregisterItem() override;

private:
    const std::filesystem::path m_executable;
};

}  // namespace corvane
