#include "Platform/Paths.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace corvane {
namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// An XDG base folder: the variable when it holds an absolute path, else home + fallback.
std::filesystem::path xdgFolder(const char* variable, const char* fallback)
{
    std::filesystem::path value = environment(variable);
    if (value.is_absolute()) {
        return value;
    }
    return Paths::home() / fallback;
}

// Reads XDG_DESKTOP_DIR from user-dirs.dirs: a line of the form XDG_DESKTOP_DIR="$HOME/Desktop".
std::filesystem::path desktopFromUserDirs()
{
    std::ifstream file(xdgFolder("XDG_CONFIG_HOME", ".config") / "user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DESKTOP_DIR=";
    while (std::getline(file, line)) {
        if (line.rfind(key, 0) != 0) {
            continue;
        }
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        const std::string homeVariable = "$HOME";
        if (value.rfind(homeVariable, 0) == 0) {
            value = Paths::home().string() + value.substr(homeVariable.size());
        }
        std::filesystem::path path = value;
        if (path.is_absolute()) {
            return path;
        }
    }
    return {};
}

}  // namespace

std::filesystem::path Paths::home()
{
    std::string value = environment("HOME");
    if (!value.empty()) {
        return value;
    }
    // getpwuid_r: getpwuid's static record would be shared with every other thread asking.
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        return found->pw_dir;
    }
    return "/";
}

std::filesystem::path Paths::applicationSupport()
{
    return xdgFolder("XDG_DATA_HOME", ".local/share") / "Corvane";
}

std::filesystem::path Paths::logs()
{
    return xdgFolder("XDG_STATE_HOME", ".local/state") / "Corvane";
}

std::filesystem::path Paths::config()
{
    return xdgFolder("XDG_CONFIG_HOME", ".config") / "Corvane";
}

std::filesystem::path Paths::desktop()
{
    std::filesystem::path fromUserDirs = desktopFromUserDirs();
    return fromUserDirs.empty() ? home() / "Desktop" : fromUserDirs;
}

std::filesystem::path Paths::temporary()
{
    std::filesystem::path value = environment("TMPDIR");
    return value.is_absolute() ? value : std::filesystem::path("/tmp");
}

std::filesystem::path Paths::normalized(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (error) {
        absolute = folder;
    }
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

}  // namespace corvane
