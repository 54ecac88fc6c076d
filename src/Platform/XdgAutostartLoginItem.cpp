#include "Platform/XdgAutostartLoginItem.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <system_error>
#include <utility>

#include <unistd.h>

#include "Platform/AtomicFile.h"
#include "Platform/Error.h"
#include "Platform/Paths.h"

namespace corvane {
namespace {

// `path` as one argument of an Exec line: in double quotes, with the characters the desktop
// entry format reserves escaped, and then escaped once more as the format's string value.
std::string quotedExecArgument(const std::string& path)
{
    std::string quoted = "\"";
    for (const char c : path) {
        switch (c) {
        case '"':
        case '`':
        case '$':
            quoted += "\\\\";  // "\\" in the file: one backslash before the character
            quoted.push_back(c);
            break;
        case '\\':
            quoted += "\\\\\\\\";  // four in the file: one literal backslash
            break;
        case '%':
            quoted += "%%";
            break;
        default:
            quoted.push_back(c);
        }
    }
    return quoted + "\"";
}

// The value of `key` in the [Desktop Entry] group of `text`, or nothing.
std::optional<std::string> entryValue(std::istream& text, const std::string& key)
{
    bool inMainGroup = false;
    for (std::string line; std::getline(text, line);) {
        if (line.starts_with("[")) {
            inMainGroup = line == "[Desktop Entry]";
        } else if (inMainGroup && line.starts_with(key)) {
            std::string rest = line.substr(key.size());
            const auto equals = rest.find_first_not_of(' ');
            if (equals != std::string::npos && rest[equals] == '=') {
                const auto value = rest.find_first_not_of(' ', equals + 1);
                return value == std::string::npos ? "" : rest.substr(value);
            }
        }
    }
    return std::nullopt;
}

bool entrySays(const std::filesystem::path& file, const std::string& key, const char* value)
{
    std::ifstream text(file);
    const auto found = entryValue(text, key);
    return found && *found == value;
}

}  // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(std::filesystem::path executable)
    : m_executable(std::move(executable))
{
}

std::filesystem::path XdgAutostartLoginItem::currentExecutable()
{
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::filesystem::path XdgAutostartLoginItem::entryPath()
{
    // The config home's parent of Paths::config() ("<config home>/Corvane").
    return Paths::config().parent_path() / "autostart" / "corvane.desktop";
}

std::string XdgAutostartLoginItem::entryText(const std::filesystem::path& executable)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Corvane\n"
           "Comment=Keeps your Corvane folder in sync\n"
           "Exec=" +
           quotedExecArgument(executable.string()) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool XdgAutostartLoginItem::isRegistered() const
{
    const auto file = entryPath();
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return false;
    }
    return !entrySays(file, "Hidden", "true") &&
           !entrySays(file, "X-GNOME-Autostart-enabled", "false");
}

void XdgAutostartLoginItem::registerItem()
{
    const std::string executable = m_executable.string();
    if (!m_executable.is_absolute()) {
        throw Error("The path of the running program is not known");
    }
    if (executable.find_first_of("\n\r") != std::string::npos) {
        throw Error("The path of the running program cannot be written to an autostart entry");
    }
    AtomicFile::write(entryPath(), entryText(m_executable));
}

void XdgAutostartLoginItem::unregisterItem()
{
    const auto file = entryPath();
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        throw FileError("remove", file.string(), errno);
    }
}

}  // namespace corvane
