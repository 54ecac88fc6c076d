#include "PathRules.h"

#include <algorithm>

namespace corvane::server {

bool PathRules::isValidName(std::string_view name)
{
    return !name.empty() && name.size() <= kMaxNameBytes && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::size_t PathRules::folderDepth(std::string_view path)
{
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

std::optional<std::string> PathRules::relativeFilePath(std::string_view path)
{
    if (path.starts_with('/')) {
        path.remove_prefix(1);
    }
    if (path.empty() || path.size() > kMaxPathBytes) {
        return std::nullopt;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (!isValidName(path.substr(start, end - start))) {
            return std::nullopt;
        }
        start = end + 1;
    }
    return std::string(path);
}

bool PathRules::isContentHash(std::string_view hash)
{
    if (hash.size() != 64) {
        return false;
    }
    for (const char c : hash) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

}  // namespace corvane::server
