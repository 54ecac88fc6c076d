#include "Platform/XdgOpenWorkspace.h"

#include <utility>

#include "Platform/DetachedProcess.h"

namespace corvane {

XdgOpenWorkspace::XdgOpenWorkspace(std::string opener) : m_opener(std::move(opener)) {}

bool XdgOpenWorkspace::openURL(const std::string& url)
{
    if (url.empty() || url.front() == '-') {
        return false;
    }
    return DetachedProcess::launch({m_opener, url});
}

}  // namespace corvane
