#include "Sync/SyncPaths.h"

#include <ctime>
#include <system_error>

#include "Platform/Paths.h"
#include "Platform/Unicode.h"

namespace corvane {

SyncPaths::SyncPaths(const std::filesystem::path& syncDir)
    : m_syncDir(Paths::normalized(syncDir)), m_syncDirText(m_syncDir.string())
{
}

std::filesystem::path SyncPaths::localPath(std::string_view syncRelative) const
{
    if (syncRelative.empty()) {
        return m_syncDir;
    }
    return m_syncDir / std::filesystem::path(syncRelative.substr(1));
}

std::optional<std::string> SyncPaths::relativePath(std::string_view absolute) const
{
    // Only the folder "/" itself ends in "/".
    const std::string prefix = m_syncDirText.ends_with('/') ? m_syncDirText : m_syncDirText + "/";
    if (absolute.starts_with(prefix)) {
        return std::string(absolute.substr(prefix.size()));
    }
    if (absolute == m_syncDirText) {
        return std::string();
    }
    return std::nullopt;
}

SyncPaths::Checked SyncPaths::checkRemotePath(std::string_view path) const
{
    const std::string rooted = path.starts_with('/') ? std::string(path) : "/" + std::string(path);
    if (rooted.find('\0') != std::string::npos) {
        return {std::nullopt, "path contains a NUL character"};
    }
    if (!Unicode::isValidUTF8(rooted)) {
        return {std::nullopt, "path is not valid UTF-8"};
    }
    std::filesystem::path walked = m_syncDir;
    std::size_t start = 1;
    while (true) {
        const std::size_t end = rooted.find('/', start);
        const std::string_view component =
            std::string_view(rooted).substr(start, end == std::string::npos ? end : end - start);
        if (component.empty()) {
            return {std::nullopt, "path has an empty component"};
        }
        if (component == "." || component == "..") {
            return {std::nullopt, "path has a \".\" or \"..\" component"};
        }
        if (component.front() == '.') {
            return {std::nullopt, "path has a hidden component"};
        }
        walked /= std::filesystem::path(component);
        std::error_code error;
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(walked, error))) {
            return {std::nullopt, "path passes through a symbolic link"};
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return {rooted, {}};
}

std::string conflictCopyName(std::string_view remoteName, std::string_view stamp,
                             const std::function<bool(const std::string&)>& taken)
{
    // Only the part after the last dot is the extension; a name without one still ends in ".".
    const std::size_t dot = remoteName.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && dot != 0;
    const std::string_view stem = hasExtension ? remoteName.substr(0, dot) : remoteName;
    const std::string_view extension = hasExtension ? remoteName.substr(dot + 1) : "";
    const std::string base =
        std::string(stem) + " (conflict - remote - " + std::string(stamp) + ")";
    std::string name = base + "." + std::string(extension);
    for (int counter = 2; taken(name); ++counter) {
        name = base + " " + std::to_string(counter) + "." + std::string(extension);
    }
    return name;
}

std::string conflictTimestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H%M%S", &local);
    return text;
}

}  // namespace corvane
