#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Path rules of the sync folder. A sync-relative path begins with "/" ("/Docs/a.txt"); its local
// path is the sync folder joined with the sync-relative path minus its first character.
//
// The sync folder is kept in one spelling (absolute, lexically normal, no trailing "/"), the one
// the file event stream reports paths under, so that "/home/u/Sync/", "/home/u//Sync" and a path
// relative to the current folder all name the same folder.
class SyncPaths {
public:
    explicit SyncPaths(const std::filesystem::path& syncDir);

    const std::filesystem::path& syncDir() const { return m_syncDir; }

    std::filesystem::path localPath(std::string_view syncRelative) const;
    // `absolute` relative to the sync folder, without a leading "/": "" for the folder itself,
    // nothing for a path outside it.
    std::optional<std::string> relativePath(std::string_view absolute) const;

    // Paths from the server are input. Gives `path` exactly one leading "/" and refuses it when
    // a component is empty, ".", ".." or begins with ".", when it holds a NUL or is not valid
    // UTF-8, or when it would pass through a symbolic link inside the sync folder. Returns the
    // sync-relative path, or the reason it was refused.
    struct Checked {
        std::optional<std::string> path;
        std::string refusal;
    };
    Checked checkRemotePath(std::string_view path) const;
    // A file name from the server (the name a conflict copy is made from): one component, under
    // the same rules as each component of a path.
    static Checked checkRemoteName(std::string_view name);

private:
    std::filesystem::path m_syncDir;
    std::string m_syncDirText;
};

// A sync-relative path's file name: its last component.
std::string lastPathComponent(const std::string& path);

}  // namespace corvane
