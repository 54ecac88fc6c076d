#pragma once

#include <string>
#include <vector>

#include "Platform/Workspace.h"

namespace corvane::test {

// Records the URLs it is asked to open.
class FakeWorkspace final : public Workspace {
public:
    bool openURL(const std::string& url) override
    {
        opened.push_back(url);
        return true;
    }

    std::vector<std::string> opened;
};

}  // namespace corvane::test
