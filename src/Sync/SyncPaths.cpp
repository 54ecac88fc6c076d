#include "Sync/SyncPaths.h"

#include <algorithm>
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

namespace {

// Why one component of a server path or name cannot be used, or nothing when it can.
std::optional<std::string> componentRefusal(std::string_view component)
{
    if (component.empty()) {
        return "path has an empty component";
    }
    if (component == "." || component == "..") {
        return "path has a \".\" or \"..\" component";
    }
    if (component.front() == '.') {
        return "path has a hidden component";
    }
    return std::nullopt;
}

// Why text from the server cannot name anything here, or nothing when it can.
std::optional<std::string> textRefusal(std::string_view text)
{
    if (text.find('\0') != std::string_view::npos) {
        return "path contains a NUL character";
    }
    if (!Unicode::isValidUTF8(text)) {
        return "path is not valid UTF-8";
    }
    return std::nullopt;
}

}  // namespace

SyncPaths::Checked SyncPaths::checkRemotePath(std::string_view path) const
{
    const std::string rooted = path.starts_with('/') ? std::string(path) : "/" + std::string(path);
    if (auto refusal = textRefusal(rooted)) {
        return {std::nullopt, std::move(*refusal)};
    }
    std::filesystem::path walked = m_syncDir;
    std::size_t start = 1;
    while (true) {
        const std::size_t end = rooted.find('/', start);
        const std::string_view component =
            std::string_view(rooted).substr(start, end == std::string::npos ? end : end - start);
        if (auto refusal = componentRefusal(component)) {
            return {std::nullopt, std::move(*refusal)};
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

SyncPaths::Checked SyncPaths::checkRemoteName(std::string_view name)
{
    if (auto refusal = textRefusal(name)) {
        return {std::nullopt, std::move(*refusal)};
    }
    if (name.find('/') != std::string_view::npos) {
        return {std::nullopt, "name has more than one component"};
    }
    if (auto refusal = componentRefusal(name)) {
        return {std::nullopt, std::move(*refusal)};
    }
    return {std::string(name), {}};
}

std::string lastPathComponent(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace corvane
