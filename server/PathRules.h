#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::server {

// Which names and paths the server accepts. Static only; any thread.
class PathRules {
public:
    static constexpr std::size_t kMaxNameBytes = 255;
    static constexpr std::size_t kMaxPathBytes = 4096;
    // Folders nest at most this deep ("/a" is 1): a folder tree nests two JSON levels per folder,
    // and the client refuses JSON nested deeper than 512, which holds a tree of 255 folders with
    // their files.
    static constexpr std::size_t kMaxFolderDepth = 255;

    // A folder name: not empty, not "." or "..", no "/" or NUL, at most kMaxNameBytes.
    static bool isValidName(std::string_view name);
    // The number of names in a folder path: 1 for "/a", 2 for "/a/b".
    static std::size_t folderDepth(std::string_view path);
    // A file path relative to its folder, with at most one leading "/": returns it without that
    // "/" ("Sub/a.txt"), or nothing when a component is empty, ".", ".." or otherwise invalid.
    static std::optional<std::string> relativeFilePath(std::string_view path);
    // 64 lower-case hexadecimal digits.
    static bool isContentHash(std::string_view hash);
};

}  // namespace corvane::server
